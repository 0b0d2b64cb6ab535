// Walks the wizard on the fixture images, offscreen, from the image page to
// saved files, and compares what was saved with the files the fixture scripts
// wrote (their SHA-256 sums, as The Sleuth Kit also reads them).
#include "ScriptedPrompter.h"

#include "carving/DefaultSignatures.h"
#include "carving/SignatureRecord.h"

#include "fs/fat/FatParser.h"
#include "results/ScanDriver.h"
#include "ui/app/Screenshots.h"
#include "ui/controls/CCheckListCtrl.h"
#include "ui/controls/CXHtmlTree.h"
#include "ui/pages/DriveParsingModes.h"
#include "ui/pages/ParceModeNtfsDlg.h"
#include "ui/pages/PopulateDriveDlg.h"
#include "ui/pages/RawRecoveryDialog.h"
#include "ui/pages/RawSettingDlg.h"
#include "ui/pages/VhdInputDialog.h"
#include "ui/pages/VolumeScanDlg.h"
#include "ui/pages/advanceOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>
#include <QTimer>
#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QValidator>
#include <QTextStream>

#include <QDeadlineTimer>

#include <functional>
#include <map>

using namespace ondrel;
using namespace ondrel::ui;

namespace {

QString fixture(const QString& name) { return QStringLiteral(ONDREL_FIXTURE_DIR "/") + name; }

// How many of this process's open files are path: a page that let go of its
// reader keeps none.
int openDescriptorsOf(const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    int n = 0;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files))
        if (fd.symLinkTarget() == target) ++n;
    return n;
}

QString sha256(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return QString::fromLatin1(h.result().toHex());
}

// FS -> path -> sha256 of the live files on the volumes of mbr-disk.
std::map<QString, std::map<QString, QString>> manifest() {
    std::map<QString, std::map<QString, QString>> out;
    QFile f(QStringLiteral(ONDREL_FIXTURE_SOURCE_DIR "/files.manifest"));
    if (!f.open(QIODevice::ReadOnly)) return out;
    QTextStream in(&f);
    while (!in.atEnd()) {
        QString line = in.readLine();
        if (line.startsWith('#')) continue;
        QStringList cols = line.split('\t');
        if (cols.size() == 5 && cols[1] == "live") out[cols[0]][cols[4]] = cols[3];
    }
    return out;
}

// Processes events until done() holds or the time is up.
bool waitFor(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) QTest::qWait(10);
    return done();
}

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

QTreeWidgetItem* childNamed(QTreeWidgetItem* parent, const QString& name) {
    for (int i = 0; parent && i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == name) return parent->child(i);
    return nullptr;
}

QStringList columnTexts(QTableWidget* table, int column) {
    QStringList out;
    for (int r = 0; r < table->rowCount(); ++r) out << table->item(r, column)->text();
    return out;
}

}  // namespace

class WizardTest : public QObject {
    Q_OBJECT

    test::ScriptedPrompter prompts_;
    std::unique_ptr<VhdInputDialog> imagePage_;

    VhdInputDialog* openImagePage(QRadioButton* VhdInputDialog::*radio, const QString& image) {
        imagePage_ = std::make_unique<VhdInputDialog>();
        imagePage_->show();
        (imagePage_.get()->*radio)->click();
        prompts_.file = image;
        QTest::mouseClick(imagePage_->browseButton, Qt::LeftButton);
        return imagePage_.get();
    }

    DriveParsingModes* toScanMode(VhdInputDialog* page) {
        QTest::mouseClick(page->nextButton, Qt::LeftButton);
        auto* next = page->findChild<DriveParsingModes*>();
        return next;
    }

    PopulateDriveDlg* toVolumeList(DriveParsingModes* modes) {
        QTest::mouseClick(modes->nextButton, Qt::LeftButton);
        auto* list = modes->findChild<PopulateDriveDlg*>();
        if (list && !waitFor([list] { return !list->sweeping(); }, 30000)) return nullptr;
        return list;
    }

    ParceModeNtfsDlg* toRecoveryMode(PopulateDriveDlg* list, int row) {
        list->volumeList->selectRow(row);
        QTest::mouseClick(list->nextButton, Qt::LeftButton);
        return list->findChild<ParceModeNtfsDlg*>();
    }

    VolumeScanDlg* scanned(QObject* from) {
        auto* results = from->findChild<VolumeScanDlg*>();
        if (!results) return nullptr;
        if (!waitFor([results] { return !results->running(); }, 60000)) return nullptr;
        return results;
    }

    // Image page -> scan-mode page -> volume list (partition tables) -> mode page -> results.
    VolumeScanDlg* standardScanOf(QRadioButton* VhdInputDialog::*radio, const QString& image, int row, int mode = 1) {
        auto* modes = toScanMode(openImagePage(radio, image));
        if (!modes) return nullptr;
        auto* list = toVolumeList(modes);
        if (!list) return nullptr;
        auto* modePage = toRecoveryMode(list, row);
        if (!modePage) return nullptr;
        if (mode == 3) modePage->deepMode->click();
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        return scanned(modePage);
    }

    // Saves a top-level folder of the results and compares it with the manifest.
    void saveAndCompare(VolumeScanDlg* results, const QString& fs, const QString& folderName) {
        QTreeWidgetItem* root = results->tree->topLevelItem(0);
        QTreeWidgetItem* folder = childNamed(root, folderName);
        QVERIFY2(folder, qPrintable(folderName + " is not in the tree"));
        results->tree->setCurrentItem(folder);
        QTemporaryDir out;
        prompts_.folder = out.path();
        prompts_.questions.clear();
        QTest::mouseClick(results->saveButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!results->running(), 30000);
        QCOMPARE(prompts_.questions.size(), 1);
        QVERIFY(prompts_.questions.first().contains("of files found inside this folder = "));
        QCOMPARE(prompts_.messages.last(), QStringLiteral("work done"));
        int compared = 0;
        const auto files = manifest()[fs];
        for (const auto& [path, hash] : files) {
            if (!path.startsWith(folderName + "/")) continue;
            QString saved = out.path() + "/" + path.mid(folderName.size() + 1);
            QCOMPARE(sha256(saved), hash);
            ++compared;
        }
        QVERIFY(compared >= 2);
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationName(QStringLiteral("OndrelFullv22.0-test"));
        setPrompter(&prompts_);
        QVERIFY2(QFile::exists(fixture("mbr-disk.vhd")), "fixture images are missing");
    }
    void init() { prompts_.reset(); }
    void cleanup() {
        imagePage_.reset();
        flushDeletes();
    }
    void cleanupTestCase() { setPrompter(nullptr); }

    void imagePageShowsWhatTheFileSays() {
        auto* page = openImagePage(&VhdInputDialog::dynamicDisk, fixture("mbr-disk.vhd"));
        QVERIFY(prompts_.messages.isEmpty());
        const QString diskMb = QString::number(QFileInfo(fixture("mbr-disk.raw")).size() / 1048576);
        QCOMPARE(page->sizeBox->text(), diskMb);
        QVERIFY(!page->tableBox->text().isEmpty());
        QVERIFY(page->tableBox->isVisible());
        QCOMPARE(page->imageType, 1);
        screenshot(page, "1-image-page-dynamic");

        // Clearing the table entries blocks Next.
        page->tableBox->clear();
        QTest::mouseClick(page->nextButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("Maximum Table Entries Field cannot be left blank."));
        QVERIFY(!page->findChild<DriveParsingModes*>());

        // Switching to a fixed disk empties the path; Next then refuses.
        page->fixedDisk->click();
        QVERIFY(page->pathBox->text().isEmpty());
        QTest::mouseClick(page->nextButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("Please select valid path to continue the recovery process."));

        // A fixed VHD: geometry N/A, the size without its footer.
        prompts_.file = fixture("mbr-disk-fixed.vhd");
        QTest::mouseClick(page->browseButton, Qt::LeftButton);
        QCOMPARE(page->headValue->text(), QStringLiteral("N/A"));
        QCOMPARE(page->sizeBox->text(), diskMb);
        QVERIFY(!page->tableBox->isVisible());

        // A file of the wrong type says so.
        page->vdiDisk->click();
        prompts_.file = fixture("mbr-disk.vhd");
        QTest::mouseClick(page->browseButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("Please select valid vdi file to continue the recovery process."));
    }

    void everyContainerListsTheSameVolumes_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<int>("radio");
        QTest::newRow("dynamic VHD") << "mbr-disk.vhd" << 0;
        QTest::newRow("fixed VHD") << "mbr-disk-fixed.vhd" << 1;
        QTest::newRow("raw") << "mbr-disk.raw" << 1;
        QTest::newRow("VDI") << "mbr-disk.vdi" << 2;
        QTest::newRow("VMDK") << "mbr-disk.vmdk" << 3;
        QTest::newRow("qcow2 chain") << "mbr-chain-top.qcow2" << 4;
        QTest::newRow("VHDX") << "mbr-disk.vhdx" << 5;
        QTest::newRow("split raw") << "mbr-split.001" << 1;
        QTest::newRow("VMDK streamOptimized") << "mbr-disk-stream.vmdk" << 3;
    }
    void everyContainerListsTheSameVolumes() {
        QFETCH(QString, image);
        QFETCH(int, radio);
        QRadioButton* VhdInputDialog::*radios[] = {&VhdInputDialog::dynamicDisk, &VhdInputDialog::fixedDisk,
                                                   &VhdInputDialog::vdiDisk,     &VhdInputDialog::vmdkDisk,
                                                   &VhdInputDialog::qcow2Disk,   &VhdInputDialog::vhdxDisk};
        auto* modes = toScanMode(openImagePage(radios[radio], fixture(image)));
        QVERIFY(modes);
        QVERIFY(!modes->doNotSkip->isEnabled());
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        QCOMPARE(columnTexts(list->volumeList, 0), (QStringList{"0", "1", "2", "3", "4", "5"}));
        QCOMPARE(columnTexts(list->volumeList, 1),
                 (QStringList{"NTFS", "FAT32", "FAT16", "FAT64", "extX", "Unknown"}));
        QCOMPARE(list->volumeList->item(0, 3)->text(), QStringLiteral("2048"));
        QCOMPARE(list->statusLine->text(), QStringLiteral("Select volume and click next button..."));
        if (radio == 0) screenshot(list, "3-volume-list-filled");

        // Selecting a row fills the custom settings.
        list->volumeList->selectRow(0);
        QCOMPARE(list->startSectorBox->text(), QStringLiteral("2048"));
        QCOMPARE(list->endSectorBox->text(), QString::number(2048 + 16 * 2048 - 1));
        QCOMPARE(list->treatAs->currentText(), QStringLiteral("NTFS"));

        // An unknown volume cannot be parsed.
        list->volumeList->selectRow(5);
        QTest::mouseClick(list->nextButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("can not parse unknown volume"));

        // Back and Next again scans from scratch with a fresh reader.
        QTest::mouseClick(list->backButton, Qt::LeftButton);
        flushDeletes();
        QCOMPARE(openDescriptorsOf(fixture("mbr-disk.vhd")), 0);
        QVERIFY(modes->isVisible());
        auto* again = toVolumeList(modes);
        QVERIFY(again);
        QCOMPARE(again->volumeList->rowCount(), 6);
    }

    void gptVolumes() {
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::dynamicDisk, fixture("gpt-disk.vhd")));
        QVERIFY(modes);
        modes->gptFormat->setChecked(true);
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        QCOMPARE(columnTexts(list->volumeList, 1), (QStringList{"NTFS", "FAT32", "FAT64", "extX", "HFS+"}));
        QCOMPARE(list->volumeList->item(0, 3)->text(), QStringLiteral("4096"));
        // The ext4 volume of the GPT disk, through to saved files.
        auto* modePage = toRecoveryMode(list, 3);
        QVERIFY(modePage);
        // ext: Standard, and the journal as the advanced mode; no deep mode.
        QVERIFY(!modePage->advancedMode->isHidden() && modePage->deepMode->isHidden());
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* results = scanned(modePage);
        QVERIFY(results);
        QCOMPARE(results->tree->topLevelItem(0)->text(0), QStringLiteral("ROOT"));
        saveAndCompare(results, "ext4", "docs");
    }

    // HFS+ on the GPT disk in both modes, and the same volume as a custom one.
    void hfsPlusStandardDeepAndCustom() {
        for (int mode : {1, 3}) {
            auto* modes = toScanMode(openImagePage(&VhdInputDialog::dynamicDisk, fixture("gpt-disk.vhd")));
            modes->gptFormat->setChecked(true);
            auto* list = toVolumeList(modes);
            QVERIFY(list);
            auto* modePage = toRecoveryMode(list, 4);
            QVERIFY(modePage);
            if (mode == 3) modePage->deepMode->click();
            QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
            auto* results = scanned(modePage);
            QVERIFY(results);
            QVERIFY(prompts_.messages.contains(QString::fromUtf8(kScanDoneText)));
            QCOMPARE(results->tree->topLevelItem(0)->text(0), QString());
            results->searchBox->setText("NESTED");
            QTest::mouseClick(results->searchButton, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!results->running(), 30000);
            QVERIFY(columnTexts(results->fileList, 0).contains("\\docs\\deep\\nested.txt"));
            saveAndCompare(results, "HFS+", "docs");
            cleanup();
        }
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::fixedDisk, fixture("mbr-disk.raw")));
        modes->advanceScan->click();
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        QTest::mouseClick(list->addCustomButton, Qt::LeftButton);
        list->startSectorBox->setText("190464");
        list->endSectorBox->setText("194559");
        list->treatAs->setCurrentText("HFS+");
        QTest::mouseClick(list->nextButton, Qt::LeftButton);
        auto* modePage = list->findChild<ParceModeNtfsDlg*>();
        QVERIFY(modePage);
        QVERIFY(modePage->advancedMode->isHidden() && !modePage->deepMode->isHidden());
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* results = scanned(modePage);
        QVERIFY(results);
        QCOMPARE(results->statusLine->text(), QString::fromUtf8(kScanDoneText));
        saveAndCompare(results, "HFS+", "docs");
    }

    // A volume group over two disks: the second is added on the image page,
    // the logical volumes are listed by name with their disk, the earlier
    // layouts check box brings back a removed one, and a volume spanning both
    // disks is read to its files.
    void furtherDisksAssembleAVolumeGroup() {
        auto* page = openImagePage(&VhdInputDialog::fixedDisk, fixture("lvm-pair-a.img"));
        prompts_.file = fixture("lvm-pair-b.img");
        QTest::mouseClick(page->addDiskButton, Qt::LeftButton);
        QCOMPARE(page->furtherValue->text(), QStringLiteral("lvm-pair-b.img"));
        QTest::mouseClick(page->addDiskButton, Qt::LeftButton);  // the same again is refused
        QCOMPARE(page->furtherPaths.size(), 1);
        auto* list = toVolumeList(toScanMode(page));
        QVERIFY(list);
        const QStringList shown = columnTexts(list->volumeList, 1);
        int span = -1;
        for (int r = 0; r < shown.size(); ++r)
            if (shown[r].contains("FAT16  vgpair/span  [disk 1]")) span = r;
        QVERIFY2(span >= 0, qPrintable(shown.join(" | ")));
        QVERIFY(!shown.join("|").contains("vgpair/gone"));
        bool legNoted = false;
        for (int r = 0; r < list->volumeList->rowCount(); ++r)
            legNoted = legNoted || list->volumeList->item(r, 1)->toolTip().contains("r1_rimage_0 is read");
        QVERIFY(legNoted);
        list->earlierLayouts->click();
        QVERIFY(columnTexts(list->volumeList, 1).join("|").contains("vgpair/gone (seqno"));
        span = -1;
        const QStringList again = columnTexts(list->volumeList, 1);
        for (int r = 0; r < again.size(); ++r)
            if (again[r].contains("vgpair/span  [disk 1]")) span = r;
        QVERIFY(span >= 0);
        auto* modePage = toRecoveryMode(list, span);
        QVERIFY(modePage);
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* results = scanned(modePage);
        QVERIFY(results);
        QCOMPARE(results->statusLine->text(), QString::fromUtf8(kScanDoneText));
        QTreeWidgetItem* docs = childNamed(results->tree->topLevelItem(0), "DOCS");
        if (!docs) docs = childNamed(results->tree->topLevelItem(0), "docs");
        QVERIFY(docs);
        docs->setExpanded(true);  // the folder's entries are filled in when it opens
        QStringList names;
        for (int i = 0; i < docs->childCount(); ++i) names << docs->child(i)->text(0);
        QVERIFY2(names.contains("blob.bin", Qt::CaseInsensitive), qPrintable(names.join(" | ")));
    }

    // "RAW" on the volume list: the signature page scans the carving image,
    // lists the finds by category and saves the ticked ones.
    void rawRecoveryFindsListsAndSaves() {
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::fixedDisk, fixture("carving.img")));
        QVERIFY(modes);
        modes->advanceScan->click();
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        QTest::mouseClick(list->addCustomButton, Qt::LeftButton);
        list->startSectorBox->setText("0");
        list->endSectorBox->setText("20479");
        list->treatAs->setCurrentText("RAW");
        QTest::mouseClick(list->nextButton, Qt::LeftButton);
        auto* raw = list->findChild<RawRecoveryDialog*>();
        QVERIFY(raw);
        QCOMPARE(raw->statusLine->text(), QStringLiteral("Please select parse button to scan the default file."));
        QTest::mouseClick(raw->parseButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!raw->running(), 60000);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("done.."));
        QCOMPARE(raw->statusLine->text(), QStringLiteral("Scanning processing done.Select save button to save the data"));
        QTreeWidgetItem* root = raw->tree->topLevelItem(0);
        QVERIFY(root);
        QCOMPARE(root->text(0), QStringLiteral("RAW RECOVERY "));
        QTreeWidgetItem* pictures = childNamed(root, "Pictures (16)");
        QVERIFY(pictures);
        raw->onLabelClicked(pictures);
        QCOMPARE(raw->fileList->rowCount(), 16);
        QVERIFY(columnTexts(raw->fileList, 0).contains("3145216 .jpg"));
        // Save refuses without a folder, then writes the ticked finds.
        QTest::mouseClick(raw->saveButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("Please select folder to continue the saving process."));
        QTemporaryDir out;
        prompts_.folder = out.path();
        QTest::mouseClick(raw->browseButton, Qt::LeftButton);
        raw->tree->setCheck(root, false);
        raw->tree->setCheck(pictures, true);
        QTest::mouseClick(raw->saveButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!raw->running(), 30000);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("work done"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 16);
        QCOMPARE(QFileInfo(out.path() + "/2166272 .jpg").size(), qint64(1026));
        QTest::mouseClick(raw->backButton, Qt::LeftButton);
    }

    void rawSettingDialogWritesRecords() {
        QTemporaryDir dir;
        const QByteArray oldHome = qgetenv("HOME"), oldData = qgetenv("XDG_DATA_HOME");
        // Without a home there is no user file to offer.
        qunsetenv("HOME");
        qunsetenv("XDG_DATA_HOME");
        {
            RawSettingDlg homeless(nullptr);
            QCOMPARE(homeless.pathBox->text(), QString());
            QTest::mouseClick(homeless.saveButton, Qt::LeftButton);
            QCOMPARE(prompts_.messages.last(), QStringLiteral("Select valid file to save the entries."));
        }
        // By default a definition goes to the user's own file, which starts
        // from the definitions in use and is read from then on.
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        {
            RawSettingDlg mine(nullptr);
            const QString user = dir.filePath("data") + "/ondrel/FileSetting.txt";
            QCOMPARE(mine.pathBox->text(), user);
            mine.extension->setText("abc");
            mine.startSignature->setText("0x41,0x42,0x43");
            mine.category->setText("Letters");
            QTest::mouseClick(mine.saveButton, Qt::LeftButton);
            QCOMPARE(prompts_.messages.last(), QStringLiteral("everything initialized well....."));
            std::vector<SignatureRecord> records;
            std::string message;
            QVERIFY(loadSignatureRecords(user.toStdString(), records, message));
            QCOMPARE(records.size(), defaultSignatures().size() + 1);
            QCOMPARE(QString::fromStdString(findSettingsFile()), user);
        }
        qputenv("HOME", oldHome);
        if (oldData.isEmpty()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", oldData);
        RawSettingDlg dialog(nullptr);
        prompts_.file = dir.filePath("mine.txt");
        QTest::mouseClick(dialog.pickButton, Qt::LeftButton);
        QCOMPARE(dialog.pathBox->text(), prompts_.file);
        QTest::mouseClick(dialog.saveButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("extention length is zero.."));
        dialog.extension->setText("png");
        QTest::mouseClick(dialog.saveButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("signature length is zero.."));
        dialog.startSignature->setText("0x89,0x50,0x4E,0x47");
        dialog.endSignature->setText("0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82");
        dialog.category->setText("Pictures");
        QTest::mouseClick(dialog.saveButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("everything initialized well....."));
        QTest::mouseClick(dialog.saveButton, Qt::LeftButton);
        std::vector<SignatureRecord> records;
        std::string message;
        QVERIFY(loadSignatureRecords(prompts_.file.toStdString(), records, message));
        QCOMPARE(records.size(), std::size_t(2));
        QCOMPARE(records[1].index, std::uint8_t(1));
        QCOMPARE(records[0].start.size(), std::size_t(4));
        // The numeric boxes take digits only.
        QString typed = QStringLiteral("12a");
        int at = 0;
        QCOMPARE(dialog.startOffset->validator()->validate(typed, at), QValidator::Invalid);
        prompts_.file.clear();
        QTest::mouseClick(dialog.pickButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("File can not be created"));
    }

    void sweepFindsVolumesNoTableLists() {
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::fixedDisk, fixture("swept-disk.raw")));
        QVERIFY(modes);
        modes->advanceScan->click();
        QVERIFY(modes->doNotSkip->isEnabled());
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        QVERIFY(prompts_.messages.contains("populated partitions...."));
        // The newest volume is on top: the list reads from the end of the disk.
        QStringList starts = columnTexts(list->volumeList, 3);
        QVERIFY(starts.contains("2048"));
        QVERIFY(starts.contains("34816"));
        QCOMPARE(starts.last(), QStringLiteral("2048"));
        screenshot(list, "3-volume-list-sweep-filled");

        // Stop at once: the sweep ends early and keeps what it found.
        const int found = list->volumeList->rowCount();
        QTest::mouseClick(list->backButton, Qt::LeftButton);
        flushDeletes();
        prompts_.messages.clear();
        QTest::mouseClick(modes->nextButton, Qt::LeftButton);
        auto* stopped = modes->findChild<PopulateDriveDlg*>();
        QVERIFY(stopped);
        QTest::mouseClick(stopped->stopButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!stopped->sweeping(), 30000);
        QTRY_VERIFY(prompts_.messages.contains("populated partitions...."));
        QVERIFY(stopped->backButton->isEnabled());
        QVERIFY(stopped->volumeList->rowCount() <= found);
    }

    void customVolumeTreatedAsNtfs() {
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::fixedDisk, fixture("mbr-disk.raw")));
        auto* tables = toVolumeList(modes);
        QVERIFY(tables);
        QVERIFY2(!tables->addCustomButton->isEnabled(), "custom volumes come after a sweep");
        QTest::mouseClick(tables->backButton, Qt::LeftButton);
        flushDeletes();
        modes->advanceScan->click();
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        QVERIFY(list->addCustomButton->isEnabled());
        int found = list->volumeList->rowCount();
        QTest::mouseClick(list->addCustomButton, Qt::LeftButton);
        QCOMPARE(list->volumeList->rowCount(), found + 1);
        QVERIFY(list->customSettings->isChecked());
        list->startSectorBox->setText("2048");
        list->endSectorBox->setText("34815");
        list->treatAs->setCurrentText("NTFS");
        QTest::mouseClick(list->nextButton, Qt::LeftButton);
        auto* modePage = list->findChild<ParceModeNtfsDlg*>();
        QVERIFY(modePage);
        QCOMPARE(modePage->record.fileSystem, std::string("ntfs"));
        QCOMPARE(modePage->record.sizeText, std::string("16"));
        QCOMPARE(modePage->record.startSector, qint64(2048));
        screenshot(modePage, "4-recovery-mode-ntfs");
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* results = scanned(modePage);
        QVERIFY(results);
        QVERIFY(childNamed(results->tree->topLevelItem(0), "docs"));
    }

    void recoveryModesPerFileSystem() {
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::dynamicDisk, fixture("gpt-disk.vhd")));
        modes->gptFormat->setChecked(true);
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        struct Case {
            int row;
            bool advanced, deep;
        } cases[] = {{0, true, true}, {1, true, false}, {2, true, false}, {3, true, false}, {4, false, true}};
        for (const Case& c : cases) {
            auto* modePage = toRecoveryMode(list, c.row);
            QVERIFY(modePage);
            QCOMPARE(!modePage->advancedMode->isHidden(), c.advanced);
            QCOMPARE(!modePage->deepMode->isHidden(), c.deep);
            QVERIFY(!modePage->driveFormattedCheck->isEnabled());
            if (c.row == 1) {
                modePage->advancedMode->click();
                QVERIFY(modePage->driveFormattedCheck->isEnabled());
                QVERIFY(modePage->maxFileSystemsBox->isEnabled());
            }
            QTest::mouseClick(modePage->backButton, Qt::LeftButton);
            flushDeletes();
        }
    }

    void ntfsStandardBrowseSearchSave() {
        auto* results = standardScanOf(&VhdInputDialog::dynamicDisk, fixture("mbr-disk.vhd"), 0);
        QVERIFY(results);
        QVERIFY(prompts_.messages.contains(QString::fromUtf8(kScanDoneText)));
        QCOMPARE(results->statusLine->text(), QString::fromUtf8(kScanDoneText));
        QVERIFY(results->backButton->isEnabled());
        QTreeWidgetItem* root = results->tree->topLevelItem(0);
        QVERIFY(root);
        QCOMPARE(root->text(0), QString());
        QTreeWidgetItem* docs = childNamed(root, "docs");
        QVERIFY(docs);
        QCOMPARE(docs->child(0)->text(0), QStringLiteral("..DUMY.."));

        // A label click lists the folder's files (not its folders).
        QRect label = results->tree->visualItemRect(docs);
        QTest::mouseClick(results->tree->viewport(), Qt::LeftButton, {}, label.center());
        QCOMPARE(columnTexts(results->fileList, 0), QStringList{"readme.txt"});
        QVERIFY(childNamed(docs, "deep"));
        QVERIFY(!childNamed(docs, "..DUMY.."));
        QCOMPARE(results->fileList->item(0, 4)->text(), QStringLiteral("127 Bytes"));
        QVERIFY(results->fileList->item(0, 1)->text().contains("  "));
        screenshot(results, "6-results-folder-listed");

        // The deleted file at the top level is red.
        QTreeWidgetItem* deleted = childNamed(root, "deleted-note.txt");
        QVERIFY(deleted);
        QCOMPARE(deleted->foreground(0).color(), QColor(Qt::red));

        // The whole tree starts checked. Checking a folder checks what is below
        // it; its parent is then partly checked.
        QVERIFY(results->tree->getCheck(root));
        QVERIFY(results->tree->getCheck(childNamed(docs, "readme.txt")));
        results->tree->setCheck(root, false);
        QVERIFY(!results->tree->getCheck(childNamed(docs, "readme.txt")));
        results->tree->setCheck(docs, true);
        QVERIFY(results->tree->getCheck(childNamed(docs, "readme.txt")));
        QCOMPARE(results->tree->stateImage(root) & 3, 3);
        QVERIFY(!results->tree->getCheck(root));

        // Search: a regular expression, without regard to case, over the whole tree.
        results->searchBox->setText("README|NESTED");
        QTest::mouseClick(results->searchButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!results->running(), 30000);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("Searching Finished"));
        QStringList found = columnTexts(results->fileList, 0);
        QVERIFY2(found.contains("\\docs\\readme.txt"), qPrintable(found.join(',')));
        QVERIFY(found.contains("\\docs\\deep\\nested.txt"));
        QVERIFY(results->listShowsSearchResults);
        screenshot(results, "6-results-search");

        saveAndCompare(results, "NTFS", "docs");

        // Back while idle returns to the mode page; Next scans again.
        auto* modePage = qobject_cast<ParceModeNtfsDlg*>(results->parentWidget());
        QTest::mouseClick(results->backButton, Qt::LeftButton);
        flushDeletes();
        QVERIFY(modePage->isVisible());
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        QVERIFY(scanned(modePage));
    }

    void standardSaveOfEveryFileSystem_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("fs");
        QTest::newRow("FAT32") << 1 << "FAT32";
        QTest::newRow("FAT16") << 2 << "FAT16";
        QTest::newRow("exFAT") << 3 << "exFAT";
        QTest::newRow("ext4") << 4 << "ext4";
    }
    void standardSaveOfEveryFileSystem() {
        QFETCH(int, row);
        QFETCH(QString, fs);
        auto* results = standardScanOf(&VhdInputDialog::vdiDisk, fixture("mbr-disk.vdi"), row);
        QVERIFY(results);
        QVERIFY(prompts_.messages.contains(QString::fromUtf8(kScanDoneText)));
        saveAndCompare(results, fs, "docs");
    }

    // A qcow2 chain of three and a VHDX, from the image page (which lists the
    // chain) to saved files.
    void qcow2ChainAndVhdxToSavedFiles_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("qcow2");
        QTest::addColumn<QString>("chain");
        QTest::newRow("qcow2 chain") << "mbr-chain-top.qcow2" << true
                                     << "mbr-chain-top.qcow2 (qcow2 v3)\nmbr-chain-mid.qcow2 (qcow2 v3)\n"
                                        "mbr-chain-base.qcow2 (qcow2 v3)";
        QTest::newRow("VHDX") << "mbr-disk.vhdx" << false << "mbr-disk.vhdx (VHDX)";
    }
    void qcow2ChainAndVhdxToSavedFiles() {
        QFETCH(QString, image);
        QFETCH(bool, qcow2);
        QFETCH(QString, chain);
        auto* page = openImagePage(qcow2 ? &VhdInputDialog::qcow2Disk : &VhdInputDialog::vhdxDisk, fixture(image));
        QVERIFY2(prompts_.messages.isEmpty(), qPrintable(prompts_.messages.join("; ")));
        QCOMPARE(page->chainValue->text(), chain);
        QCOMPARE(page->sizeBox->text(), QString::number(QFileInfo(fixture("mbr-disk.raw")).size() / 1048576));
        QCOMPARE(page->imageType, qcow2 ? 4 : 5);
        if (qcow2) screenshot(page, "1-image-page-qcow2-chain");
        auto* modes = toScanMode(page);
        QVERIFY(modes);
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        auto* modePage = toRecoveryMode(list, 1);
        QVERIFY(modePage);
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* results = scanned(modePage);
        QVERIFY(results);
        saveAndCompare(results, "FAT32", "docs");
    }

    // A chain whose base is missing: the image page says which file it looked for.
    void missingParentIsNamedOnTheImagePage() {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(fixture("mbr-chain-mid.qcow2"), dir.filePath("mbr-chain-mid.qcow2")));
        openImagePage(&VhdInputDialog::qcow2Disk, dir.filePath("mbr-chain-mid.qcow2"));
        QVERIFY(!prompts_.messages.isEmpty());
        QVERIFY2(prompts_.messages.last().contains(dir.filePath("mbr-chain-base.qcow2")), qPrintable(prompts_.messages.last()));
    }

    // A parent outside the image's folder: the page asks before it opens it,
    // and the pages after it read the chain the user allowed.
    void parentOutsideTheFolderIsAskedFor() {
        if (QProcess::execute("qemu-img", {"--version"}) != 0) QSKIP("qemu-img is not installed");
        QTemporaryDir dir;
        QDir(dir.path()).mkpath("images");
        QDir(dir.path()).mkpath("elsewhere");
        const QString child = dir.filePath("images/mbr-chain-mid.qcow2"), base = dir.filePath("elsewhere/mbr-chain-base.qcow2");
        QVERIFY(QFile::copy(fixture("mbr-chain-mid.qcow2"), child));
        QVERIFY(QFile::copy(fixture("mbr-chain-base.qcow2"), base));
        QCOMPARE(QProcess::execute("qemu-img", {"rebase", "-u", "-f", "qcow2", "-F", "qcow2", "-b",
                                                "../elsewhere/mbr-chain-base.qcow2", child}),
                 0);
        // No: nothing outside the folder is read, and the page says why.
        prompts_.answers = {false};
        auto* refused = openImagePage(&VhdInputDialog::qcow2Disk, child);
        QCOMPARE(prompts_.questions.size(), 1);
        QVERIFY2(prompts_.questions.first().contains(QFileInfo(base).canonicalFilePath()), qPrintable(prompts_.questions.first()));
        QVERIFY(!prompts_.messages.isEmpty());
        QVERIFY2(prompts_.messages.last().contains("outside the folder"), qPrintable(prompts_.messages.last()));
        QVERIFY(refused->allowedReferences.empty());
        // Yes: the chain is shown, and the volume list reads through it.
        prompts_.reset();
        prompts_.answers = {true};
        auto* allowed = openImagePage(&VhdInputDialog::qcow2Disk, child);
        QVERIFY2(prompts_.messages.isEmpty(), qPrintable(prompts_.messages.join("; ")));
        QCOMPARE(allowed->chainValue->text(), QStringLiteral("mbr-chain-mid.qcow2 (qcow2 v3)\nmbr-chain-base.qcow2 (qcow2 v3)"));
        auto* modes = toScanMode(allowed);
        QVERIFY(modes);
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        QCOMPARE(list->volumeList->rowCount(), 6);
    }

    // The bundled demo: from the image page to saved files of both volumes.
    void demoImageToSavedFiles_data() {
        QTest::addColumn<int>("row");
        QTest::newRow("NTFS") << 0;
        QTest::newRow("FAT32") << 1;
    }
    void demoImageToSavedFiles() {
        QFETCH(int, row);
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::dynamicDisk, fixture("demo.vhd")));
        QVERIFY(modes);
        auto* list = toVolumeList(modes);
        QVERIFY(list);
        QCOMPARE(columnTexts(list->volumeList, 1), (QStringList{"NTFS", "FAT32"}));
        auto* modePage = toRecoveryMode(list, row);
        QVERIFY(modePage);
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* results = scanned(modePage);
        QVERIFY(results);
        QTreeWidgetItem* documents = childNamed(results->tree->topLevelItem(0), "Documents");
        QVERIFY(documents);
        results->tree->setCurrentItem(documents);
        QTemporaryDir out;
        prompts_.folder = out.path();
        QTest::mouseClick(results->saveButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!results->running(), 30000);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("work done"));
        // Every file listed for Documents/Reports is saved with its listed size.
        results->onLabelClicked(documents);
        QTreeWidgetItem* reports = childNamed(documents, "Reports");
        QVERIFY(reports);
        results->onLabelClicked(reports);
        QVERIFY(results->fileList->rowCount() >= 2);
        for (int r = 0; r < results->fileList->rowCount(); ++r) {
            QString name = results->fileList->item(r, 0)->text();
            QFileInfo saved(out.path() + "/Reports/" + name);
            QVERIFY2(saved.exists(), qPrintable(name));
            QString size = results->fileList->item(r, 4)->text();
            if (size.endsWith(" Bytes")) QCOMPARE(QString::number(saved.size()) + " Bytes", size);
            else QCOMPARE(QString::asprintf("%.2f KB", saved.size() / 1024.0), size);
        }
    }

    void doubleClickSavesOneFileAfterAskingForAFolder() {
        auto* results = standardScanOf(&VhdInputDialog::dynamicDisk, fixture("mbr-disk.vhd"), 1);
        QVERIFY(results);
        QTreeWidgetItem* data = childNamed(results->tree->topLevelItem(0), "data.bin");
        QVERIFY(data);
        QTemporaryDir out;
        prompts_.folder = out.path();
        results->onDoubleClicked(data);
        QTRY_VERIFY_WITH_TIMEOUT(!results->running(), 30000);
        QCOMPARE(sha256(out.path() + "/data.bin"), manifest()["FAT32"]["data.bin"]);
        // FAT files saved one at a time are not announced with a message.
        QVERIFY(!prompts_.messages.contains("file is dumped in path  :  " + out.path() + "/data.bin   "));
        QVERIFY(results->statusLine->text().startsWith("saving File  "));
    }

    void ntfsDeepMode() {
        auto* results = standardScanOf(&VhdInputDialog::dynamicDisk, fixture("mbr-disk.vhd"), 0, 3);
        QVERIFY(results);
        QVERIFY(prompts_.messages.contains(QString::fromUtf8(kScanDoneText)));
        QVERIFY(results->tree->topLevelItem(0)->childCount() > 0);
    }

    void ntfsAdvancedWithChosenMftRecord() {
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::fixedDisk, fixture("mbr-disk.raw")));
        auto* list = toVolumeList(modes);
        auto* modePage = toRecoveryMode(list, 0);
        QVERIFY(modePage);
        modePage->advancedMode->click();
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* advanced = modePage->findChild<advanceOptions*>();
        QVERIFY(advanced);
        QTRY_VERIFY_WITH_TIMEOUT(!advanced->searching(), 30000);
        QTRY_VERIFY(advanced->nextButton->isEnabled());
        QVERIFY(advanced->tfsCombo->count() >= 1);
        QCOMPARE(advanced->tfsCombo->itemText(0), QStringLiteral("MFT_ENTRY:0"));
        QCOMPARE(advanced->clusterCombo->itemText(0), QStringLiteral("8"));
        QVERIFY(prompts_.messages.last().startsWith("Number of MFT-ENTRY found = "));
        QCOMPARE(advanced->statusLine->text(), QStringLiteral("Parsing done.Click next to continue."));
        screenshot(advanced, "5-advanced-input-ntfs");
        // The mirror of the MFT's first records is a candidate too; take the last.
        advanced->tfsCombo->setCurrentIndex(advanced->tfsCombo->count() - 1);
        QTest::mouseClick(advanced->nextButton, Qt::LeftButton);
        auto* results = scanned(advanced);
        QVERIFY(results);
        QVERIFY(prompts_.messages.contains(QString::fromUtf8(kScanDoneText)));
        QVERIFY(results->tree->topLevelItem(0)->childCount() > 0);
    }

    void fatAdvanced_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("fs");
        QTest::newRow("FAT16") << 2 << "FAT_ENTRY:0" << "FAT16";
        QTest::newRow("FAT32") << 1 << "FAT32_ENTRY:0" << "FAT32";
        QTest::newRow("exFAT") << 3 << "FAT64_ENTRY:0" << "exFAT";
    }
    void fatAdvanced() {
        QFETCH(int, row);
        QFETCH(QString, entry);
        QFETCH(QString, fs);
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::vmdkDisk, fixture("mbr-disk.vmdk")));
        auto* list = toVolumeList(modes);
        auto* modePage = toRecoveryMode(list, row);
        QVERIFY(modePage);
        modePage->advancedMode->click();
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* advanced = modePage->findChild<advanceOptions*>();
        QVERIFY(advanced);
        QTRY_VERIFY_WITH_TIMEOUT(advanced->nextButton->isEnabled(), 30000);
        QCOMPARE(advanced->tfsCombo->itemText(0), entry);
        QCOMPARE(advanced->statusLine->text(), QStringLiteral("Parsing done.Click Next to continue."));
        // exFAT also asks where the cluster heap starts; cluster sizes are shifts.
        QCOMPARE(advanced->heapCombo->isVisible(), fs == "exFAT");
        if (fs == "exFAT") {
            QCOMPARE(advanced->heapCombo->itemText(0), QStringLiteral("HEAP_OFFSET_ENTRY:0"));
            QCOMPARE(advanced->clusterCombo->itemText(0), QStringLiteral("3"));
            QCOMPARE(advanced->clusterCombo->count(), 12);
            QVERIFY(prompts_.messages.last().startsWith("Number of FAT64-ENTRY found = 1 and Number of HeapOffset-ENTRY found =  "));
        }
        QTest::mouseClick(advanced->nextButton, Qt::LeftButton);
        auto* results = scanned(advanced);
        QVERIFY(results);
        saveAndCompare(results, fs, "docs");
    }

    // XFS's advanced mode: its one log as the candidate, then the files the
    // kernel removed back in their folder with their own sizes.
    void xfsAdvancedReadsTheLog() {
        if (!QFileInfo::exists(fixture("xfs-kernel.img"))) QSKIP("the XFS fixtures are missing");
        auto* list = toVolumeList(toScanMode(openImagePage(&VhdInputDialog::fixedDisk, fixture("xfs-kernel.img"))));
        QVERIFY(list);
        QCOMPARE(columnTexts(list->volumeList, 1), (QStringList{"XFS"}));
        auto* modePage = toRecoveryMode(list, 0);
        QVERIFY(modePage);
        QVERIFY(!modePage->advancedMode->isHidden() && modePage->deepMode->isHidden());
        modePage->advancedMode->click();
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* advanced = modePage->findChild<advanceOptions*>();
        QVERIFY(advanced);
        QTRY_VERIFY_WITH_TIMEOUT(advanced->nextButton->isEnabled(), 30000);
        QCOMPARE(advanced->tfsCombo->itemText(0), QStringLiteral("JOURNAL_ENTRY:0"));
        QVERIFY(prompts_.messages.last().startsWith("Number of JOURNAL-ENTRY found = 1 ."));
        QTest::mouseClick(advanced->nextButton, Qt::LeftButton);
        auto* results = scanned(advanced);
        QVERIFY(results);
        QTreeWidgetItem* frag = childNamed(results->tree->topLevelItem(0), "frag");
        QVERIFY(frag);
        frag->setExpanded(true);
        QTreeWidgetItem* removed = childNamed(frag, "partner-deleted.bin");
        QVERIFY2(removed, "the removed file is not back in its folder");
        QVERIFY(!childNamed(results->tree->topLevelItem(0), "ORPHAN_ENTRY"));
    }

    void pauseHoldsTheScanAndResumeFinishesIt() {
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::dynamicDisk, fixture("mbr-disk.vhd")));
        auto* list = toVolumeList(modes);
        auto* modePage = toRecoveryMode(list, 0);
        QVERIFY(modePage);
        // Deep mode reads every sector of the volume: long enough to pause.
        modePage->deepMode->click();
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* results = modePage->findChild<VolumeScanDlg*>();
        QVERIFY(results);
        results->pause();
        QCOMPARE(results->statusLine->text(), QStringLiteral("Pause button pressed"));
        QTest::qWait(200);
        int position = results->progress->value();
        QTest::qWait(400);
        QVERIFY2(results->running(), "the scan ran on while paused");
        QCOMPARE(results->progress->value(), position);
        QVERIFY(!results->backButton->isEnabled());
        // Save, Search and Back wait for the running process.
        QTest::mouseClick(results->saveButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("Please wait for the running process."));
        results->resume();
        QTRY_VERIFY_WITH_TIMEOUT(!results->running(), 60000);
        QVERIFY(prompts_.messages.contains(QString::fromUtf8(kScanDoneText)));
    }

    void stopKeepsPartialResults() {
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::dynamicDisk, fixture("mbr-disk.vhd")));
        auto* list = toVolumeList(modes);
        auto* modePage = toRecoveryMode(list, 0);
        QTest::mouseClick(modePage->nextButton, Qt::LeftButton);
        auto* results = modePage->findChild<VolumeScanDlg*>();
        QVERIFY(results);
        results->pause();
        results->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!results->running(), 30000);
        // The scan still completes: the tree holds what was found, Back works.
        QVERIFY(prompts_.messages.contains(QString::fromUtf8(kScanDoneText)));
        QVERIFY(results->backButton->isEnabled());
        QVERIFY(results->tree->topLevelItemCount() == 1);
    }

    void exportWritesThePlainDisk() {
        auto* modes = toScanMode(openImagePage(&VhdInputDialog::dynamicDisk, fixture("mbr-disk.vhd")));
        QVERIFY(modes);
        QVERIFY(!modes->saveDiskImageButton->isEnabled());
        modes->saveDiskImageCheck->setChecked(true);
        QVERIFY(modes->saveDiskImageButton->isEnabled());
        QTemporaryDir out;
        prompts_.folder = out.path();
        QTest::mouseClick(modes->saveDiskImageButton, Qt::LeftButton);
        QCOMPARE(prompts_.messages.first(),
                 QStringLiteral("Make sure you have sufficient disk space at saving location of Image File"));
        QTRY_VERIFY_WITH_TIMEOUT(!modes->exportRunning(), 60000);
        QTRY_VERIFY(modes->nextButton->isEnabled());
        QCOMPARE(modes->statusLine->text(), QStringLiteral("Image Saved,Choose any one of the mode and click next."));
        QString output = out.path() + "/mbr-disk.vhd.img";
        QCOMPARE(modes->exportPathBox->text(), output);
        QCOMPARE(sha256(output), sha256(fixture("mbr-disk.raw")));
        QCOMPARE(openDescriptorsOf(fixture("mbr-disk.vhd")), 0);
    }

    void closeQuestionAndHelp() {
        auto* page = openImagePage(&VhdInputDialog::dynamicDisk, fixture("mbr-disk.vhd"));
        auto* modes = toScanMode(page);
        prompts_.answers = {false};
        QTest::keyClick(modes, Qt::Key_Escape);
        QCOMPARE(prompts_.questions.last(), QStringLiteral("Do you want to Close Application ?"));
        QCOMPARE(prompts_.quits, 0);
        QVERIFY(modes->isVisible());
        // Enter neither closes nor leaves the page.
        QTest::keyClick(modes, Qt::Key_Return);
        QVERIFY(modes->isVisible());
        QTest::keyClick(modes, Qt::Key_Escape);
        QCOMPARE(prompts_.quits, 1);
        QCOMPARE(prompts_.urls.size(), 1);

        // The Help menu opens the pages and the About box.
        QMenu* menu = modes->helpButton->menu();
        QVERIFY(menu);
        QStringList items;
        for (QAction* a : menu->actions()) items << a->text();
        QCOMPARE(items, (QStringList{"Help", "Software Homepage", "About"}));
        menu->actions().at(0)->trigger();
        QCOMPARE(prompts_.urls.size(), 2);
        QTimer::singleShot(300, [] {
            if (QWidget* about = QApplication::activeModalWidget()) {
                QCOMPARE(about->windowTitle(), QStringLiteral("About Pellimor"));
                // The version the command line gives, from the same place.
                auto* version = about->findChild<QLabel*>(QStringLiteral("versionLabel"));
                QVERIFY(version);
                QString cli;
                QProcess p;
                p.start(QStringLiteral(ONDREL_CLI), {QStringLiteral("--version")});
                QVERIFY(p.waitForFinished(10000));
                cli = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
                QCOMPARE(QStringLiteral("ondrel-cli ") + version->text().mid(QStringLiteral("Version ").size()), cli);
                screenshot(about, "7-about-box");
                about->close();
            }
        });
        menu->actions().at(2)->trigger();
    }
};

int runWizardTest(int argc, char** argv) {
    WizardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WizardTest.moc"

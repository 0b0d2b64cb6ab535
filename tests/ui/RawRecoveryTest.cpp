// The signature page on images read slowly enough to watch: the category
// tree fills while the scan runs, Pause holds a save between two files, the
// file list's ticks (and its header box) decide what Save writes, and the
// free-space box carves only what the file system marks free.
#include "ScriptedPrompter.h"

#include "diskimage/ImageKind.h"
#include "ui/app/Screenshots.h"
#include "ui/controls/CCheckHeadCtrl.h"
#include "ui/controls/CCheckListCtrl.h"
#include "ui/controls/CXHtmlTree.h"
#include "ui/pages/RawRecoveryDialog.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidgetItem>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace ondrel;
using namespace ondrel::ui;

namespace {

QString fixture(const QString& name) { return QStringLiteral(ONDREL_FIXTURE_DIR "/") + name; }

// A disk whose every read waits a while first, so a page can be watched mid-run.
class SlowSource : public ByteSource {
public:
    SlowSource(std::shared_ptr<const ByteSource> inner, std::chrono::milliseconds delay) : inner_(std::move(inner)), delay_(delay) {}
    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override {
        std::this_thread::sleep_for(delay_);
        return inner_->readAt(offset, buffer, length);
    }
    std::int64_t size() const override { return inner_->size(); }

private:
    std::shared_ptr<const ByteSource> inner_;
    std::chrono::milliseconds delay_;
};

VolumeRecord slowVolume(const QString& image, const std::string& fileSystem, std::chrono::milliseconds delay) {
    OpenedImage opened = openDiskImage(image.toStdString(), std::nullopt);
    std::shared_ptr<const ByteSource> disk(std::move(opened.reader));
    if (!disk) return {};
    return customVolume(std::make_shared<SlowSource>(disk, delay), fileSystem, 0);
}

// The number in a category's "%s (%lld)" text; -1 when there is none.
long long countIn(const QString& text) {
    const auto m = QRegularExpression(QStringLiteral(R"(\((\d+)\)$)")).match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

long long findsShown(CXHtmlTree* tree) {
    QTreeWidgetItem* root = tree->topLevelItem(0);
    long long n = 0;
    for (int i = 0; root && i < root->childCount(); ++i) n += std::max(0LL, countIn(root->child(i)->text(0)));
    return n;
}

QTreeWidgetItem* category(CXHtmlTree* tree, const QString& prefix) {
    QTreeWidgetItem* root = tree->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i)
        if (root->child(i)->text(0).startsWith(prefix + " (")) return root->child(i);
    return nullptr;
}

int filesIn(const QString& folder) {
    int n = 0;
    for (const QFileInfo& d : QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        n += QDir(d.filePath()).entryList(QDir::Files).size();
    return n + QDir(folder).entryList(QDir::Files).size();
}

}  // namespace

class RawRecoveryTest : public QObject {
    Q_OBJECT

    test::ScriptedPrompter prompts_;

    // The page scanned to its end.
    bool scanned(RawRecoveryDialog& raw) {
        QTest::mouseClick(raw.parseButton, Qt::LeftButton);
        return QTest::qWaitFor([&] { return !raw.running(); }, 120000) && prompts_.messages.contains("done..");
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        setPrompter(&prompts_);
        QVERIFY2(QFile::exists(fixture("structure.img")), "fixture images are missing");
    }
    void init() { prompts_.reset(); }
    void cleanupTestCase() { setPrompter(nullptr); }

    void categoriesAndCountsGrowWhileTheScanRuns() {
        RawRecoveryDialog raw(nullptr, slowVolume(fixture("structure.img"), "RAW", std::chrono::milliseconds(15)));
        raw.show();
        QVERIFY2(raw.freeSpaceOnly->isHidden(), "no file system: nothing to offer");
        QTest::mouseClick(raw.parseButton, Qt::LeftButton);
        QVERIFY(raw.running());
        // Every category at once, before any find.
        QVERIFY(category(raw.tree, "Pictures"));
        QVERIFY(category(raw.tree, "Archives"));
        // Some finds are shown while the scan still runs, and more come.
        QTRY_VERIFY_WITH_TIMEOUT(findsShown(raw.tree) > 0, 60000);
        const long long early = findsShown(raw.tree);
        QVERIFY(raw.running());
        screenshot(&raw, "8-signature-page-mid-scan");
        QTRY_VERIFY_WITH_TIMEOUT(!raw.running(), 120000);
        QVERIFY(findsShown(raw.tree) > early);
        QCOMPARE(findsShown(raw.tree), static_cast<long long>(raw.finds()->scanner().files().size()));
        QCOMPARE(prompts_.messages.last(), QStringLiteral("done.."));
        QTreeWidgetItem* pictures = category(raw.tree, "Pictures");
        QVERIFY(pictures);
        QCOMPARE(countIn(pictures->text(0)), static_cast<long long>(pictures->childCount()));
    }

    void listTicksAndTheHeaderBoxDecideWhatSaveWrites() {
        RawRecoveryDialog raw(nullptr, slowVolume(fixture("structure.img"), "RAW", std::chrono::milliseconds(0)));
        QVERIFY(scanned(raw));
        QTreeWidgetItem* root = raw.tree->topLevelItem(0);
        QTreeWidgetItem* archives = category(raw.tree, "Archives");
        QVERIFY(root && archives);
        raw.tree->setCheck(root, false);
        QVERIFY(raw.tickedFinds().empty());
        raw.onLabelClicked(archives);
        const int rows = raw.fileList->rowCount();
        QVERIFY(rows >= 3);
        // Two rows ticked in the list (as a click on their boxes does): those two files and nothing else.
        raw.fileList->item(0, 0)->setCheckState(Qt::Checked);
        raw.fileList->item(2, 0)->setCheckState(Qt::Checked);
        QCOMPARE(raw.tickedFinds().size(), std::size_t(2));
        QTemporaryDir out;
        prompts_.folder = out.path();
        QTest::mouseClick(raw.browseButton, Qt::LeftButton);
        QTest::mouseClick(raw.saveButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!raw.running(), 60000);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("work done"));
        QCOMPARE(filesIn(out.path()), 2);
        QVERIFY(QFile::exists(out.path() + "/" + raw.fileList->item(0, 0)->text()));
        QVERIFY(QFile::exists(out.path() + "/" + raw.fileList->item(2, 0)->text()));

        // The header box ticks every row, and the tree with it.
        emit raw.fileList->headCtrl()->checkClicked();
        for (int r = 0; r < rows; ++r) QVERIFY(raw.fileList->rowChecked(r));
        QCOMPARE(raw.tickedFinds().size(), static_cast<std::size_t>(rows));
        for (int i = 0; i < archives->childCount(); ++i) QVERIFY(raw.tree->getCheck(archives->child(i)));
        // A tick taken off in the tree leaves the list too.
        raw.tree->setCheck(archives->child(1), false);
        emit raw.tree->checkBoxClicked(archives->child(1), false);
        QVERIFY(!raw.fileList->rowChecked(1));
        QTemporaryDir all;
        prompts_.folder = all.path();
        QTest::mouseClick(raw.browseButton, Qt::LeftButton);
        QTest::mouseClick(raw.saveButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!raw.running(), 60000);
        QCOMPARE(filesIn(all.path()), rows - 1);
    }

    void pauseHoldsASaveUntilResume() {
        RawRecoveryDialog raw(nullptr, slowVolume(fixture("structure.img"), "RAW", std::chrono::milliseconds(20)));
        QVERIFY(scanned(raw));
        const int finds = static_cast<int>(raw.finds()->scanner().files().size());
        QVERIFY(finds > 20);
        QTemporaryDir out;
        prompts_.folder = out.path();
        QTest::mouseClick(raw.browseButton, Qt::LeftButton);
        QTest::mouseClick(raw.saveButton, Qt::LeftButton);
        QTest::mouseClick(raw.pauseButton, Qt::LeftButton);
        QCOMPARE(raw.statusLine->text(), QStringLiteral("Pause button pressed."));
        QTest::qWait(400);  // what was being written when Pause came is finished
        const int held = filesIn(out.path());
        QTest::qWait(600);
        QVERIFY(raw.running());
        QCOMPARE(filesIn(out.path()), held);
        QVERIFY(held < finds);
        QTest::mouseClick(raw.resumeButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!raw.running(), 60000);
        QCOMPARE(filesIn(out.path()), finds);
        QCOMPARE(prompts_.messages.last(), QStringLiteral("work done"));
    }

    void aSettingsFileThatIsNoneIsRefusedAtOnce() {
        RawRecoveryDialog raw(nullptr, slowVolume(fixture("structure.img"), "RAW", std::chrono::milliseconds(0)));
        raw.loadDefault->setChecked(false);
        for (const char* path : {"/dev/zero", ONDREL_FIXTURE_DIR "/structure.img"}) {
            prompts_.reset();
            raw.pathBox->setText(QString::fromUtf8(path));
            QTest::mouseClick(raw.parseButton, Qt::LeftButton);
            QVERIFY(!raw.running());
            QCOMPARE(prompts_.messages.value(0), QStringLiteral("Please select a valid file.."));
        }
    }

    void theFreeSpaceBoxCarvesOnlyWhatTheFileSystemMarksFree() {
        RawRecoveryDialog raw(nullptr, slowVolume(fixture("carve-fat32.img"), "FAT32", std::chrono::milliseconds(0)));
        QVERIFY(!raw.freeSpaceOnly->isHidden());
        QVERIFY(raw.freeSpaceOnly->text().contains("FAT32"));
        QVERIFY(scanned(raw));
        const std::size_t everything = raw.finds()->scanner().files().size();
        QCOMPARE(everything, std::size_t(60));
        raw.freeSpaceOnly->setChecked(true);
        prompts_.reset();
        QVERIFY(scanned(raw));
        QCOMPARE(raw.finds()->scanner().files().size(), std::size_t(20));  // the deleted files, no live one
    }
};

int runRawRecoveryTest(int argc, char** argv) {
    RawRecoveryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "RawRecoveryTest.moc"

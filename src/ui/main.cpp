// The wizard: one instance per user, the image page as the main window, an
// image path on the command line pre-filling it.
#include "common/Version.h"
#include "ui/app/Prompter.h"
#include "ui/app/Screenshots.h"
#include "ui/app/SingleInstance.h"
#include "ui/pages/VhdInputDialog.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

bool haveDisplay() {
#if defined(__linux__)
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

void explainHeadless(const char* image) {
    const char* img = image ? image : "IMAGE";
    std::fprintf(stderr,
                 "ondrel: no display to show the wizard on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "Run it under a desktop session or Xvfb (xvfb-run ondrel %s), or use the command-line tool:\n"
                 "  ondrel-cli volumes %s                       # the volumes of the disk\n"
                 "  ondrel-cli ls %s --volume 0                 # the recovered tree of volume 0\n"
                 "  ondrel-cli search %s --volume 0 'jpg|png'   # names matching a pattern\n"
                 "  ondrel-cli recover %s --volume 0 --out DIR  # save volume 0's files into DIR\n",
                 img, img, img, img, img);
}

}  // namespace

int main(int argc, char** argv) {
    const char* image = argc > 1 ? argv[1] : nullptr;
    if (!haveDisplay()) {
        explainHeadless(image);
        return 2;
    }
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Ondrel"));
    QCoreApplication::setApplicationName(QStringLiteral("OndrelFullv" ONDREL_VERSION));
    QCoreApplication::setApplicationVersion(QStringLiteral(ONDREL_VERSION));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("ondrel"), QIcon(QStringLiteral(":/ondrel.png"))));
    QApplication::setQuitOnLastWindowClosed(false);

    ondrel::ui::SingleInstance instance;
    if (!instance.acquired()) {
        ondrel::ui::prompter().information(nullptr, QString::fromUtf8(ondrel::ui::kAnotherInstanceText));
        return 0;
    }

    ondrel::ui::VhdInputDialog page;
    page.show();
    QStringList args = QCoreApplication::arguments();
    if (args.size() > 1) page.preset(args.at(1));
    QTimer::singleShot(0, &page, [&page] { ondrel::ui::screenshot(&page, QStringLiteral("1-image-page-opened")); });
    return app.exec();
}

// One executable for the wizard's Qt tests: the first argument names the
// class to run (all when none), the rest goes to Qt Test.
#include <QApplication>
#include <QByteArray>

#include <cstring>
#include <vector>

int runWizardTest(int argc, char** argv);
int runControlsTest(int argc, char** argv);
int runAppPlumbingTest(int argc, char** argv);
int runRawRecoveryTest(int argc, char** argv);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString which = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    std::vector<char*> rest{argv[0]};
    for (int i = which.isEmpty() ? 1 : 2; i < argc; ++i) rest.push_back(argv[i]);
    int n = static_cast<int>(rest.size());
    int failures = 0;
    if (which.isEmpty() || which == "AppPlumbingTest") failures += runAppPlumbingTest(n, rest.data());
    if (which.isEmpty() || which == "ControlsTest") failures += runControlsTest(n, rest.data());
    if (which.isEmpty() || which == "WizardTest") failures += runWizardTest(n, rest.data());
    if (which.isEmpty() || which == "RawRecoveryTest") failures += runRawRecoveryTest(n, rest.data());
    return failures;
}

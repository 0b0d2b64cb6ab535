// The wizard's plumbing: reports from a worker reach the GUI thread in order,
// coalesced, and a page that goes away releases a worker waiting for an answer;
// one instance per user.
#include "ui/app/GuiObserver.h"
#include "ui/app/SingleInstance.h"

#include <QTest>
#include <QThread>
#include <QUuid>

#include <atomic>
#include <thread>

using namespace ondrel::ui;

class AppPlumbingTest : public QObject {
    Q_OBJECT

private slots:
    void workerReportsArriveCoalescedAndInOrder() {
        QObject target;
        GuiObserver observer(&target);
        QStringList statuses;
        qint64 lastPosition = -1;
        int positionCalls = 0;
        QStringList messages;
        QThread* gui = QThread::currentThread();
        bool allOnGui = true;
        observer.onStatus = [&](const QString& t) {
            allOnGui = allOnGui && QThread::currentThread() == gui;
            statuses << t;
        };
        observer.onPosition = [&](qint64 p) {
            ++positionCalls;
            lastPosition = p;
        };
        observer.onMessage = [&](const QString& t) {
            allOnGui = allOnGui && QThread::currentThread() == gui;
            messages << t + " after " + statuses.last();
        };
        observer.onQuestion = [&](const QString& t) { return t == "yes?"; };
        std::atomic<bool> answers{false};
        std::thread worker([&] {
            for (int i = 0; i < 100000; ++i) {
                observer.status("record " + std::to_string(i));
                observer.progressPosition(i);
            }
            observer.message("done");
            answers = observer.question("yes?") && !observer.question("no?");
        });
        QTRY_VERIFY_WITH_TIMEOUT(answers, 20000);
        worker.join();
        QCoreApplication::processEvents();
        QVERIFY(allOnGui);
        QCOMPARE(statuses.last(), QStringLiteral("record 99999"));
        QVERIFY(statuses.size() < 100000);  // coalesced, not one event per record
        QCOMPARE(lastPosition, 99999);
        QVERIFY(positionCalls < 100000);
        QCOMPARE(messages, QStringList{"done after record 99999"});
    }

    void closingReleasesAWaitingWorker() {
        QObject target;
        auto observer = std::make_unique<GuiObserver>(&target);
        observer->onQuestion = [](const QString&) { return true; };
        std::atomic<int> answer{-1};
        std::thread worker([&] { answer = observer->question("still there?") ? 1 : 0; });
        // The GUI thread never runs the question: it closes the observer instead,
        // as a page does before it joins its worker.
        QTest::qSleep(50);
        observer->close();
        worker.join();
        QCOMPARE(answer.load(), 0);
        QCoreApplication::processEvents();  // the queued question must not run now
    }

    void oneInstancePerName() {
        QString name = QStringLiteral("ondrel-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        auto first = std::make_unique<SingleInstance>(name);
        QVERIFY(first->acquired());
        SingleInstance second(name);
        QVERIFY(!second.acquired());
        first.reset();
        SingleInstance third(name);
        QVERIFY(third.acquired());
    }
};

int runAppPlumbingTest(int argc, char** argv) {
    AppPlumbingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "AppPlumbingTest.moc"

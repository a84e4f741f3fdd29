// Copies meeting over the local socket: a copy that runs a job survives a second start and is
// asked to show its window; an idle one is asked to quit; with nobody listening nothing is asked.
// The second start's question runs on a thread of its own, as it would in its own process.
#include "app/instancechannel.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

using corvane::app::InstanceChannel;

class InstanceTest : public QObject
{
    Q_OBJECT

private:
    static QString name()
    {
        return QStringLiteral("corvane-test-%1").arg(QCoreApplication::applicationPid());
    }

    // What a second copy starting now would be told.
    static InstanceChannel::Reply secondStart()
    {
        std::atomic<int> reply{-1};
        std::unique_ptr<QThread> starter(
            QThread::create([&reply] { reply = int(InstanceChannel::askToGiveWay(name(), 5000)); }));
        starter->start();
        // The first copy answers from this thread's event loop.
        QDeadlineTimer deadline(10000);
        while (!starter->isFinished() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        starter->wait();
        return InstanceChannel::Reply(reply.load());
    }

private slots:
    void busyCopySurvivesASecondStartAndShowsItsWindow_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::newRow("running a job") << true;
        QTest::newRow("idle") << false;
    }
    void busyCopySurvivesASecondStartAndShowsItsWindow()
    {
        QFETCH(bool, busy);
        InstanceChannel first(name(), [busy] { return busy; });
        QVERIFY(first.listen());
        QSignalSpy shown(&first, &InstanceChannel::showRequested);
        QSignalSpy quit(&first, &InstanceChannel::quitRequested);

        const InstanceChannel::Reply reply = secondStart();
        QCOMPARE(reply, busy ? InstanceChannel::Reply::Busy : InstanceChannel::Reply::Idle);
        QTRY_COMPARE(shown.count() + quit.count(), 1);
        QCOMPARE(shown.count(), busy ? 1 : 0);
        QCOMPARE(quit.count(), busy ? 0 : 1);
    }

    void nobodyListening() { QCOMPARE(secondStart(), InstanceChannel::Reply::NoInstance); }
};

QTEST_MAIN(InstanceTest)
#include "tst_instance.moc"

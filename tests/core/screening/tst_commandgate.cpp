// The gate that lets one command at a time talk to the server, and what it keeps for later.
#include "core/screening/commandgate.h"

#include <QTest>

using corvane::CommandGate;
using Request = corvane::CommandGate::Request;

Q_DECLARE_METATYPE(QList<Request>)

class TestCommandGate final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void idleGateDefersNothing() {
        int aborts = 0;
        CommandGate gate([&] { ++aborts; });
        QVERIFY(gate.mayStart());
        for (Request what :
             {Request::Close, Request::Disconnect, Request::Pass, Request::AutoToggle})
            QVERIFY(!gate.request(what)); // nothing runs: the caller does it now
        QCOMPARE(aborts, 0);
        QVERIFY(!gate.takeNext());
    }

    void oneCommandAtATime() {
        CommandGate gate;
        {
            const CommandGate::Pass outer(gate);
            QVERIFY(gate.busy());
            QVERIFY(!gate.mayStart());
            {
                const CommandGate::Pass inner(gate);
                QVERIFY(!gate.mayStart());
            }
            QVERIFY(!gate.mayStart()); // still inside the outer command
            QVERIFY(!gate.takeNext());
        }
        QVERIFY(gate.mayStart());
    }

    void requestsWhileBusy_data() {
        QTest::addColumn<QList<Request>>("asked");
        QTest::addColumn<int>("aborts");
        QTest::addColumn<bool>("onPurpose");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QList<Request>>("then"); // what takeNext hands back, in order

        QTest::newRow("close") << QList<Request>{Request::Close} << 1 << true << true
                               << QList<Request>{Request::Close};
        QTest::newRow("close wins over everything")
            << QList<Request>{Request::Pass, Request::AutoToggle, Request::Close} << 1 << true
            << true << QList<Request>{Request::Close};
        QTest::newRow("disconnect drops a pending pass")
            << QList<Request>{Request::Pass, Request::Disconnect} << 1 << true << true
            << QList<Request>{Request::Disconnect};
        QTest::newRow("disconnect, then the mode switch")
            << QList<Request>{Request::AutoToggle, Request::Disconnect} << 1 << true << true
            << QList<Request>{Request::Disconnect, Request::AutoToggle};
        QTest::newRow("a pass waits, the command runs on")
            << QList<Request>{Request::Pass} << 0 << false << false
            << QList<Request>{Request::Pass};
        QTest::newRow("mode switch stops a pass before its next account")
            << QList<Request>{Request::AutoToggle} << 0 << false << true
            << QList<Request>{Request::AutoToggle};
        QTest::newRow("pass and mode switch")
            << QList<Request>{Request::AutoToggle, Request::Pass} << 0 << false << true
            << QList<Request>{Request::Pass, Request::AutoToggle};
    }

    void requestsWhileBusy() {
        QFETCH(QList<Request>, asked);
        QFETCH(int, aborts);
        QFETCH(bool, onPurpose);
        QFETCH(bool, stop);
        QFETCH(QList<Request>, then);

        int aborted = 0;
        CommandGate gate([&] { ++aborted; });
        {
            const CommandGate::Pass running(gate);
            for (Request what : asked)
                QVERIFY(gate.request(what));
            QCOMPARE(aborted, aborts);
            QCOMPARE(gate.endingOnPurpose(), onPurpose);
            QCOMPARE(gate.stopRequested(), stop);
            QVERIFY(!gate.takeNext()); // nothing is carried out inside the running command
        }
        QList<Request> taken;
        while (const std::optional<Request> next = gate.takeNext()) {
            taken << *next;
            if (*next == Request::Close)
                break; // stays pending until the close has run
        }
        QCOMPARE(taken, then);
    }

    void closeStaysPendingUntilDropped() {
        CommandGate gate;
        {
            const CommandGate::Pass running(gate);
            QVERIFY(gate.request(Request::Close));
        }
        QCOMPARE(gate.takeNext(), std::optional<Request>(Request::Close));
        // The shutdown's own disconnect fails quietly too.
        QVERIFY(gate.endingOnPurpose());
        gate.drop(Request::Close);
        QVERIFY(!gate.endingOnPurpose());
        QVERIFY(!gate.takeNext());
    }
};

QTEST_GUILESS_MAIN(TestCommandGate)
#include "tst_commandgate.moc"

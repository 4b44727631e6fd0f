// The interface under the English catalogue, as `--lang en` starts it: every
// caption, message and log piece a user meets is English, while the title
// and what leaves the program stay as they are.

#include "app/language.h"
#include "datawindow/replyrulesdialog.h"
#include "endpoints/webreply.h"
#include "net/serial/serialport.h"
#include "support/contextmenu.h"
#include "support/endpoint_harness.h"
#include "support/replyrule.h"
#include "ui/elidedlabel.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

#include <sys/socket.h>

using endpoint_test::Harness;
using namespace loopback_test;

namespace {

const QRegularExpression chinese(
    QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));

// Every text a user can read on root and the widgets inside it, each with
// where it was found, so that a failure names the place.
QStringList readableTexts(const QWidget &root)
{
    QStringList texts;
    auto add = [&texts](const QObject *where, const QString &what, const QString &text) {
        if (!text.isEmpty())
            texts << QStringLiteral("%1 %2 (%3): %4")
                         .arg(QLatin1String(where->metaObject()->className()), where->objectName(), what,
                             text);
    };
    QList<const QWidget *> widgets = root.findChildren<const QWidget *>();
    widgets.prepend(&root);
    for (const QWidget *w : widgets) {
        add(w, QStringLiteral("tooltip"), w->toolTip());
        if (w->isWindow())
            add(w, QStringLiteral("title"), w->windowTitle());
        if (const auto *label = qobject_cast<const QLabel *>(w))
            add(w, QStringLiteral("text"), label->text());
        if (const auto *button = qobject_cast<const QAbstractButton *>(w))
            add(w, QStringLiteral("text"), button->text());
        if (const auto *box = qobject_cast<const QGroupBox *>(w))
            add(w, QStringLiteral("title"), box->title());
        if (const auto *edit = qobject_cast<const QLineEdit *>(w))
            add(w, QStringLiteral("placeholder"), edit->placeholderText());
        if (const auto *combo = qobject_cast<const QComboBox *>(w))
            for (int i = 0; i < combo->count(); ++i)
                add(w, QStringLiteral("item"), combo->itemText(i));
        if (const auto *box = qobject_cast<const QPlainTextEdit *>(w))
            add(w, QStringLiteral("contents"), box->toPlainText());
        if (const auto *tree = qobject_cast<const QTreeWidget *>(w))
            for (QTreeWidgetItemIterator it(const_cast<QTreeWidget *>(tree)); *it; ++it)
                add(w, QStringLiteral("node"), (*it)->text(0));
        if (const auto *table = qobject_cast<const QTableView *>(w)) {
            const QAbstractItemModel *model = table->model();
            for (int c = 0; model && c < model->columnCount(); ++c) {
                add(w, QStringLiteral("header"), model->headerData(c, Qt::Horizontal).toString());
                for (int r = 0; r < model->rowCount(); ++r)
                    add(w, QStringLiteral("cell"), model->index(r, c).data().toString());
            }
        }
        for (const QAction *action : w->actions())
            add(w, QStringLiteral("action"), action->text());
    }
    return texts;
}

QStringList chineseAmong(const QStringList &texts)
{
    QStringList found;
    for (const QString &text : texts)
        if (text.contains(chinese))
            found << text;
    return found;
}

} // namespace

class TstLanguage : public QObject {
    Q_OBJECT

private slots:
    // Chinese is shown only with a font that has its glyphs; on a machine
    // without one the interface is English, and the reason is given.
    void chineseNeedsAFontWithItsGlyphs()
    {
        QString why;
        if (qEnvironmentVariableIsEmpty("PW_FONTS_WITHOUT_CJK")) {
            // Here a Chinese font is installed (scripts/install-deps.sh).
            QCOMPARE(usableLanguage(QStringLiteral("zh"), &why), QStringLiteral("zh"));
            QCOMPARE(usableLanguage(QString(), &why), QString());
            QVERIFY(why.isEmpty());
            return;
        }
        QCOMPARE(usableLanguage(QStringLiteral("zh"), &why), QStringLiteral("en"));
        QVERIFY2(why.contains(QStringLiteral("no installed font has Chinese glyphs")), qPrintable(why));
        QString none;
        QCOMPARE(usableLanguage(QStringLiteral("en"), &none), QStringLiteral("en"));
        QVERIFY(none.isEmpty());
    }

    void initTestCase()
    {
        QVERIFY(useLanguage(*QCoreApplication::instance(), QStringLiteral("en")));
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/com1"); });
    }

    void everyWindowAndDialogReadsInEnglish()
    {
        Harness h;
        QCOMPARE(h.form->windowTitle(), QStringLiteral("Portwright V2.5"));
        QCOMPARE(child<QPushButton>(h.form, "createButton")->text(), QStringLiteral("Create"));
        QCOMPARE(child<QPushButton>(h.form, "exitButton")->text(), QStringLiteral("Exit"));
        const QStringList atStart = readableTexts(*h.form);
        // The information panel and the five creation dialogs were among them.
        QVERIFY2(atStart.size() > 40, qPrintable(QString::number(atStart.size())));
        QCOMPARE(chineseAmong(atStart), QStringList());

        const Fd listener = listenOnLoopback();
        Endpoint *server = h.tcpServer(unusedPort());
        Endpoint *client = h.tcpClient(localPort(listener.get()));
        Endpoint *udpServer = h.udpServer(unusedPort());
        Endpoint *udpClient = h.udpClient(unusedPort(), unusedPort());
        QVERIFY(server && client && udpServer && udpClient);
        QCOMPARE(h.recorder.exceptions, QStringList());
        for (Endpoint *endpoint : {server, client, udpServer, udpClient}) {
            windowOf(endpoint)->build();
            QCOMPARE(chineseAmong(readableTexts(*windowOf(endpoint))), QStringList());
            QCOMPARE(
                chineseAmong(contextMenuTexts(*child<LogView>(windowOf(endpoint), "log"))), QStringList());
            QCOMPARE(chineseAmong(contextMenuTexts(*child<SendEdit>(windowOf(endpoint), "sendEdit"))),
                QStringList());
        }
        auto *spare = child<ElidedLabel>(windowOf(udpServer), "spareLabel");
        QCOMPARE(spare->text(), QStringLiteral("Serial closed:/nonexistent/com1"));
        QCOMPARE(spare->toolTip(), spare->text());
        // The narrow label draws the caption whole and shortens the path.
        QVERIFY(spare->fontMetrics().horizontalAdvance(spare->shownText()) <= spare->contentsRect().width());
        QVERIFY2(
            spare->shownText().startsWith(QStringLiteral("Serial closed:/")), qPrintable(spare->shownText()));
        QCOMPARE(chineseAmong(readableTexts(*h.form)), QStringList());
    }

    void logLinesAndMessagesAreEnglish()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        QVERIFY(server);
        Fd peer = connectTo(port);
        QTRY_COMPARE(h.endpoints(EndpointKind::TcpAcceptedPeer).size(), 1);
        Endpoint *accepted = h.endpoints(EndpointKind::TcpAcceptedPeer).first();
        QCOMPARE(::send(peer.get(), "ping", 4, 0), ssize_t(4));
        QTRY_VERIFY(Harness::log(accepted).contains(QStringLiteral("ping")));

        windowOf(accepted)->build();
        child<SendEdit>(windowOf(accepted), "sendEdit")->setPlainText(QStringLiteral("pong"));
        child<QPushButton>(windowOf(accepted), "sendButton")->click();
        QCOMPARE(readWithin(peer.get()), QByteArray("pong"));
        const QString log = Harness::log(accepted);
        QVERIFY2(!log.contains(chinese), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("pong")), qPrintable(log));

        // The port is taken now: the refusal is a message box in English.
        h.tcpServer(port);
        QCOMPARE(h.recorder.messages.size(), 1);
        QVERIFY2(!h.recorder.messages.first().contains(chinese), qPrintable(h.recorder.messages.first()));
    }

    void replyRulesDialogReadsInEnglishAndKeepsItsChoices()
    {
        const std::vector<ReplyRule> rules
            = {rule(MatchType::Equals, "a", "1"), rule(MatchType::Contains, "b", "2"),
                rule(MatchType::StartsWith, "c", "3"), rule(MatchType::EndsWith, "d", "4"),
                rule(MatchType::Regex, "e+", "5"), rule(MatchType::HexBytes, "0A", "6")};
        ReplyRulesDialog dialog;
        dialog.setRules(rules);
        const QStringList texts = readableTexts(dialog);
        QCOMPARE(chineseAmong(texts), QStringList());
        QVERIFY2(texts.contains(QStringLiteral("QTableView rulesTable (cell): Hex bytes")),
            qPrintable(texts.join(QLatin1Char('\n'))));
        // The match type's editor, made when its cell is edited.
        auto *table = child<QTableView>(dialog, "rulesTable");
        table->edit(table->model()->index(0, 1));
        const QList<QComboBox *> types = dialog.findChildren<QComboBox *>();
        QCOMPARE(types.size(), 1);
        QCOMPARE(types.first()->count(), 6);
        QCOMPARE(chineseAmong(readableTexts(*types.first())), QStringList());

        // The match types shown in English are read back as the same types.
        child<QPushButton>(dialog, "okButton")->click();
        QCOMPARE(dialog.result(), int(ReplyRulesDialog::Accepted));
        QCOMPARE(dialog.rules().size(), rules.size());
        for (size_t i = 0; i < rules.size(); ++i)
            QCOMPARE(dialog.rules()[i].match, rules[i].match);
    }

    void textsThatLeaveTheProgramStayAsTheyAre()
    {
        // The web reply is what a browser receives, whatever the window shows.
        QVERIFY(WebReplyPageText().contains(QStringLiteral("Portwright 网络调试工具")));
        QVERIFY(FixedWebReply().startsWith("HTTP/1.1 200 OK\r\n"));
        QVERIFY(FixedWebReply().contains(EncodeGbk(QStringLiteral("Portwright 网络调试工具"))));
    }
};

QTEST_MAIN(TstLanguage)
#include "tst_language.moc"

#include "core/replyrules.h"
#include "support/replyrule.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

ReplyRule disabled(ReplyRule r)
{
    r.enabled = false;
    return r;
}

std::optional<QByteArray> replyOf(const ReplyRule &r, const QByteArray &received)
{
    ReplyRuleSet set;
    set.setRules({r});
    return set.replyTo(received);
}

} // namespace

class TstReplyRules : public QObject {
    Q_OBJECT

private slots:
    // Each match type against pieces it must and must not answer, including
    // bytes beyond ASCII and a zero byte.
    void matchTypes_data()
    {
        QTest::addColumn<int>("match");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("answers");

        const auto row
            = [](const char *name, MatchType m, const QString &pattern, const QByteArray &received,
                  bool answers) { QTest::newRow(name) << int(m) << pattern << received << answers; };
        const QByteArray zeroPiece("AB\0CD", 5);
        const QByteArray chinese = QStringLiteral("温度=25").toLocal8Bit();

        row("equals same", MatchType::Equals, "PING", "PING", true);
        row("equals longer piece", MatchType::Equals, "PING", "PING\r\n", false);
        row("equals is case-sensitive", MatchType::Equals, "PING", "ping", false);
        row("equals empty pattern", MatchType::Equals, "", "x", false);
        row("equals chinese", MatchType::Equals, QStringLiteral("温度=25"), chinese, true);
        row("contains middle", MatchType::Contains, "ING", "xPINGx", true);
        row("contains missing", MatchType::Contains, "PONG", "PING", false);
        row("contains chinese inside", MatchType::Contains, QStringLiteral("温度"), "<" + chinese + ">",
            true);
        row("contains across a zero byte", MatchType::Contains, "CD", zeroPiece, true);
        row("contains empty is catch-all", MatchType::Contains, "", zeroPiece, true);
        row("starts with", MatchType::StartsWith, "AT+", "AT+CSQ\r", true);
        row("starts with elsewhere", MatchType::StartsWith, "CSQ", "AT+CSQ\r", false);
        row("starts with empty is catch-all", MatchType::StartsWith, "", "\xff", true);
        row("ends with", MatchType::EndsWith, "\r\n", "OK\r\n", true);
        row("ends with elsewhere", MatchType::EndsWith, "OK", "OK\r\n", false);
        row("ends with empty is catch-all", MatchType::EndsWith, "", "z", true);
        row("regex anywhere", MatchType::Regex, "T=\\d+", "xxT=42yy", true);
        row("regex anchored", MatchType::Regex, "^T=\\d+$", "xxT=42yy", false);
        row("regex chinese", MatchType::Regex, QStringLiteral("^温度=\\d+$"), chinese, true);
        row("regex zero byte", MatchType::Regex, "B\\x00C", zeroPiece, true);
        row("regex is case-sensitive", MatchType::Regex, "abc", "ABC", false);
        row("hex inside", MatchType::HexBytes, "00 43", zeroPiece, true);
        row("hex lowercase no blanks", MatchType::HexBytes, "4200", zeroPiece, true);
        row("hex high bytes", MatchType::HexBytes, "FF FE", "\x01\xff\xfe\x02", true);
        row("hex missing", MatchType::HexBytes, "FF FF", "\x01\xff\xfe\x02", false);
        row("hex is not text", MatchType::HexBytes, "41", "41", false);
    }
    void matchTypes()
    {
        QFETCH(int, match);
        QFETCH(QString, pattern);
        QFETCH(QByteArray, received);
        QFETCH(bool, answers);
        const ReplyRule r = rule(MatchType(match), pattern, QStringLiteral("R"));
        QCOMPARE(ruleProblem(r, 1), QString());
        QCOMPARE(replyOf(r, received).has_value(), answers);
    }

    void namesRoundTripAndUnknownNameIsRefused()
    {
        const QStringList names = {QStringLiteral("等于"), QStringLiteral("包含"), QStringLiteral("开头是"),
            QStringLiteral("结尾是"), QStringLiteral("正则表达式"), QStringLiteral("十六进制字节")};
        for (int k = 0; k < names.size(); ++k) {
            QCOMPARE(matchTypeName(MatchType(k)), names[k]);
            QCOMPARE(matchTypeFromName(names[k]), std::optional(MatchType(k)));
        }
        QCOMPARE(matchTypeFromName(QStringLiteral("Contains")), std::nullopt);
    }

    void firstEnabledMatchingRuleWins()
    {
        ReplyRuleSet set;
        set.setRules({
            disabled(rule(MatchType::Contains, "A", "disabled")),
            rule(MatchType::StartsWith, "AB", "first"),
            rule(MatchType::Contains, "B", "second"),
            rule(MatchType::Contains, "", "fallback"),
        });
        QCOMPARE(set.replyTo("ABC"), QByteArray("first"));
        QCOMPARE(set.replyTo("xBx"), QByteArray("second"));
        QCOMPARE(set.replyTo("A"), QByteArray("fallback"));
        QCOMPARE(set.repliesGiven(), 3);

        set.setRules({disabled(rule(MatchType::Contains, "", "never"))});
        QCOMPARE(set.replyTo("ABC"), std::nullopt);
        QCOMPARE(set.repliesGiven(), 3);
    }

    void invalidRulesAreKeptButNeverAnswer()
    {
        ReplyRuleSet set;
        const std::vector<ReplyRule> rules = {
            rule(MatchType::Regex, "(", "bad regex"),
            rule(MatchType::HexBytes, "4", "bad hex"),
            rule(MatchType::Contains, "A", ""),
            rule(MatchType::Contains, "A", "ZZ", true),
            rule(MatchType::Contains, "A", "good"),
        };
        set.setRules(rules);
        QCOMPARE(set.rules(), rules);
        QCOMPARE(set.replyTo("A(4"), QByteArray("good"));
    }

    void hexReplyIsDecodedWithoutExpansion()
    {
        QCOMPARE(
            replyOf(rule(MatchType::Contains, "", "00 ff 5C 31", true), "x"), QByteArray("\x00\xff\\1", 4));
        QCOMPARE(replyOf(rule(MatchType::Contains, "", "7b6c656e7d", true), "x"), QByteArray("{len}"));
    }

    void textReplyExpansions_data()
    {
        QTest::addColumn<int>("match");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QByteArray>("expected");

        const auto row = [](const char *name, MatchType m, const QString &pattern, const QString &reply,
                             const QByteArray &received, const QByteArray &expected) {
            QTest::newRow(name) << int(m) << pattern << reply << received << expected;
        };
        row("captures", MatchType::Regex, "(\\w+)=(\\d+)", "\\2:\\1", "set T=42;", "42:T");
        row("whole regex match", MatchType::Regex, "T=\\d+", "[\\0]", "set T=42;", "[T=42]");
        row("unmatched and missing groups", MatchType::Regex, "a(x)?(b)", "<\\1|\\2|\\9>", "ab", "<|b|>");
        row("chinese capture", MatchType::Regex, QStringLiteral("名=(\\S+)"), QStringLiteral("你好\\1"),
            QStringLiteral("名=张三").toLocal8Bit(), QStringLiteral("你好张三").toLocal8Bit());
        row("whole match of text rule is the pattern", MatchType::Contains, "PING", "\\0!", "xPINGx",
            "PING!");
        row("captures of text rule are empty", MatchType::StartsWith, "P", "<\\1>", "PING", "<>");
        row("whole match of hex rule is the bytes", MatchType::HexBytes, "41 00", "\\0",
            QByteArray("xA\0", 3), QByteArray("A\0", 2));
        row("double backslash", MatchType::Contains, "", "a\\\\1b", "x", "a\\1b");
        row("line ends and tab", MatchType::Contains, "", "OK\\r\\n\\t.", "x", "OK\r\n\t.");
        row("other backslashes stay", MatchType::Contains, "", "\\q\\x\\", "x", "\\q\\x\\");
        row("length", MatchType::Contains, "", "len={len}", QByteArray("ab\0\xff", 4), "len=4");
        row("unknown braces stay", MatchType::Contains, "", "{lens}{time{len}}{", "xyz", "{lens}{time3}{");
    }
    void textReplyExpansions()
    {
        QFETCH(int, match);
        QFETCH(QString, pattern);
        QFETCH(QString, reply);
        QFETCH(QByteArray, received);
        QFETCH(QByteArray, expected);
        const ReplyRule r = rule(MatchType(match), pattern, reply);
        QCOMPARE(ruleProblem(r, 1), QString());
        QCOMPARE(replyOf(r, received), expected);
    }

    // Whatever bytes arrive, \0 and \1 give back exactly the ones they
    // cover: bytes that are not UTF-8 are not turned into U+FFFD on the way.
    void capturesGiveBackTheBytesTheyMatched_data()
    {
        QTest::addColumn<QByteArray>("payload");

        QByteArray everyByte;
        for (int b = 0; b < 256; ++b)
            everyByte += char(b);
        QTest::newRow("every byte value") << everyByte;
        QTest::newRow("not utf-8 at all") << QByteArray("\x80\x81\xfe\xff");
        QTest::newRow("truncated two-byte") << QByteArray("x\xc3");
        QTest::newRow("truncated three-byte") << QByteArray("\xe4\xb8 y");
        QTest::newRow("truncated four-byte") << QByteArray("\xf0\x9f\x98");
        QTest::newRow("overlong and surrogate") << QByteArray("\xc0\x80\xed\xa0\x80\xf4\x90\x80\x80");
        QTest::newRow("lone continuation bytes") << QByteArray("\xbf\x80\x80z");
        QTest::newRow("chinese") << QStringLiteral("温度=25℃").toUtf8();
        QTest::newRow("emoji") << QByteArray("\xf0\x9f\x98\x80!");
        QTest::newRow("chinese cut in two") << QStringLiteral("温度").toUtf8().chopped(1);
        QTest::newRow("zero bytes") << QByteArray("\0a\0", 3);
        QTest::newRow("empty") << QByteArray();
    }
    void capturesGiveBackTheBytesTheyMatched()
    {
        QFETCH(QByteArray, payload);
        const QByteArray piece = "ECHO " + payload;
        QCOMPARE(replyOf(rule(MatchType::Regex, "(?s)^ECHO (.*)$", "<\\1>"), piece), "<" + payload + ">");
        QCOMPARE(replyOf(rule(MatchType::Regex, "(?s)^ECHO .*", "\\0"), piece), piece);
        // A group in the middle, between bytes that are not UTF-8 either.
        const QByteArray framed = "\xfe" + payload + "\xff";
        QCOMPARE(replyOf(rule(MatchType::Regex, "(?s)^.(.*).$", "\\1"), framed), payload);
        QCOMPARE(replyOf(rule(MatchType::Regex, "(?s)^(.)", "\\1"), framed), QByteArray("\xfe"));
    }

    // ^(a+)+$ against "aaa...ab" backtracks without end; every such search
    // gives up after a bounded amount of work, whatever the piece's length,
    // counts as not matching (the next rule answers) and is told at most
    // once a second. Ordinary patterns on pieces of some kilobytes stay well
    // inside the bound.
    void aRegexThatBacktracksWithoutEndGivesUp()
    {
        ReplyRuleSet set;
        QList<int> told;
        set.setLimitHandler([&told](int number) { told << number; });
        set.setRules({
            rule(MatchType::Contains, "never", "no"),
            rule(MatchType::Regex, "^(a+)+$", "ok"),
            rule(MatchType::EndsWith, "b", "fallback"),
        });
        QElapsedTimer clock;
        clock.start();
        for (const int length : {31, 62, 4000}) {
            const QByteArray piece = QByteArray(length - 1, 'a') + 'b';
            QCOMPARE(set.replyTo(piece), QByteArray("fallback"));
            QCOMPARE(told.value(0), 2);
        }
        for (int k = 0; k < 20; ++k)
            QCOMPARE(set.replyTo(QByteArray(30, 'a') + 'b'), QByteArray("fallback"));
        // 23 searches gave up; told once, or once more for every second the
        // searches took on a loaded machine.
        QVERIFY2(told.size() <= 1 + clock.elapsed() / 1000, qPrintable(QString::number(told.size())));
        QCOMPARE(told.count(2), told.size());
        // The same expression answers pieces it needs no backtracking for.
        QCOMPARE(set.replyTo(QByteArray(4000, 'a')), QByteArray("ok"));
        QCOMPARE(set.repliesGiven(), 24);

        told.clear();
        QByteArray numbers;
        int last = -1;
        while (numbers.size() < 4000)
            numbers += QByteArray::number(++last) + ',';
        const std::pair<QString, QByteArray> ordinary[] = {
            {"(\\d+),end$", numbers + "end"},
            {"T=(\\d+)", QByteArray(8000, 'x') + "T=42;"},
            {"(?s)^<(.*?)>", "<" + QByteArray(6000, 'y') + ">tail"},
            {"(\\w+)=(\\d+);$", QByteArray(3000, ' ') + "a b c key=12345;"},
        };
        const QByteArray expected[] = {QByteArray::number(last), "42", QByteArray(6000, 'y'), "key"};
        for (size_t k = 0; k < std::size(ordinary); ++k) {
            set.setRules({rule(MatchType::Regex, ordinary[k].first, "\\1")});
            QCOMPARE(set.replyTo(ordinary[k].second), expected[k]);
        }
        QCOMPARE(told, QList<int>());
    }

    void timeAndCountExpand()
    {
        ReplyRuleSet set;
        set.setRules({rule(MatchType::Contains, "", "#{count} at {time}")});
        QCOMPARE(set.replyTo("a", QTime(9, 5, 7)), QByteArray("#1 at 09:05:07"));
        QCOMPARE(set.replyTo("b", QTime(23, 59, 0)), QByteArray("#2 at 23:59:00"));
        QCOMPARE(set.repliesGiven(), 2);
        // New rules keep counting: the count is the window's, not the rule's.
        set.setRules({rule(MatchType::Contains, "", "{count}")});
        QCOMPARE(set.replyTo("c"), QByteArray("3"));
    }

    void problemsNameTheRule_data()
    {
        QTest::addColumn<int>("match");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("replyIsHex");
        QTest::addColumn<QString>("problem");

        const auto row = [](const char *name, MatchType m, const QString &pattern, const QString &reply,
                             bool replyIsHex, const QString &problem) {
            QTest::newRow(name) << int(m) << pattern << reply << replyIsHex << problem;
        };
        row("regex", MatchType::Regex, "ab(c", "r", false,
            QStringLiteral("第7条规则的正则表达式无效：missing closing parenthesis (位置 4)"));
        row("hex odd", MatchType::HexBytes, "41 4", "r", false,
            QStringLiteral("第7条规则的十六进制内容无效"));
        row("hex split byte", MatchType::HexBytes, "4 1", "r", false,
            QStringLiteral("第7条规则的十六进制内容无效"));
        row("hex not digits", MatchType::HexBytes, "4G", "r", false,
            QStringLiteral("第7条规则的十六进制内容无效"));
        row("hex empty", MatchType::HexBytes, " ", "r", false, QStringLiteral("第7条规则的十六进制内容无效"));
        row("empty reply", MatchType::Contains, "a", "", false, QStringLiteral("第7条规则的应答内容为空"));
        row("blank hex reply", MatchType::Contains, "a", "  ", true,
            QStringLiteral("第7条规则的应答内容为空"));
        row("bad hex reply", MatchType::Contains, "a", "0x41", true,
            QStringLiteral("第7条规则的应答内容不是有效的十六进制"));
        row("usable: blank text reply", MatchType::Contains, "a", " ", false, QString());
        row("usable: hex with tabs and line breaks", MatchType::HexBytes, "\t41\r\n42 ", "41\n42", true,
            QString());
        row("usable: empty regex", MatchType::Regex, "", "r", false, QString());
    }
    void problemsNameTheRule()
    {
        QFETCH(int, match);
        QFETCH(QString, pattern);
        QFETCH(QString, reply);
        QFETCH(bool, replyIsHex);
        QFETCH(QString, problem);
        QCOMPARE(ruleProblem(rule(MatchType(match), pattern, reply, replyIsHex), 7), problem);
    }

    void jsonRoundTripKeepsEveryField()
    {
        std::vector<ReplyRule> rules = {
            rule(MatchType::Equals, QStringLiteral("查询"), QStringLiteral("结果 {time}")),
            disabled(rule(MatchType::Regex, "^(\\d+)\"$", "\\1\\\\")),
            rule(MatchType::HexBytes, "00 ff", "01 02", true),
            rule(MatchType::StartsWith, "", "x"),
            rule(MatchType::EndsWith, "\r\n", "y"),
            rule(MatchType::Contains, "a", "z"),
        };
        const QByteArray json = rulesToJson(rules);
        QVERIFY(json.contains("\"version\": 1"));
        QVERIFY(json.contains("\"match\": \"hexBytes\""));
        QString error = QStringLiteral("stale");
        QCOMPARE(rulesFromJson(json, &error), rules);
        QCOMPARE(error, QString());
        QCOMPARE(rulesFromJson(rulesToJson({}), &error), std::vector<ReplyRule>());
        QCOMPARE(error, QString());
    }

    void badJsonIsRefusedWithItsReason_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");

        const auto wrap = [](const QByteArray &rules) {
            return "{\"format\":\"portwright-reply-rules\",\"version\":1,\"rules\":[" + rules + "]}";
        };
        const QByteArray good = "{\"enabled\":true,\"match\":\"contains\",\"pattern\":\"a\",\"reply\":\"b\","
                                "\"replyIsHex\":false}";
        QTest::newRow("not json") << QByteArray("{\"rules\": [") << QStringLiteral("规则文件格式错误：");
        QTest::newRow("other document")
            << QByteArray("{\"rules\":[]}") << QStringLiteral("规则文件格式错误：不是自动应答规则文件");
        QTest::newRow("array at top")
            << QByteArray("[]") << QStringLiteral("规则文件格式错误：不是自动应答规则文件");
        QTest::newRow("no version") << QByteArray("{\"format\":\"portwright-reply-rules\",\"rules\":[]}")
                                    << QStringLiteral("规则文件格式错误：缺少版本号");
        QTest::newRow("newer version")
            << QByteArray("{\"format\":\"portwright-reply-rules\",\"version\":2,\"rules\":[]}")
            << QStringLiteral("规则文件格式错误：不支持的版本 2");
        QTest::newRow("no list") << QByteArray("{\"format\":\"portwright-reply-rules\",\"version\":1}")
                                 << QStringLiteral("规则文件格式错误：缺少规则列表");
        QTest::newRow("entry not object")
            << wrap(good + ",3") << QStringLiteral("规则文件格式错误：第2条规则不是一个对象");
        QByteArray noReply = good;
        noReply.replace("\"reply\":\"b\",", "");
        QTest::newRow("missing field")
            << wrap(noReply) << QStringLiteral("规则文件格式错误：第1条规则的“reply”缺失或类型不对");
        QByteArray numberEnabled = good;
        numberEnabled.replace("true", "1");
        QTest::newRow("wrong type") << wrap(numberEnabled)
                                    << QStringLiteral("规则文件格式错误：第1条规则的“enabled”缺失或类型不对");
        QByteArray unknownMatch = good;
        unknownMatch.replace("contains", "包含");
        QTest::newRow("unknown match") << wrap(good + "," + unknownMatch)
                                       << QStringLiteral("规则文件格式错误：第2条规则的匹配方式“包含”未知");
        QByteArray badRegex = good;
        badRegex.replace("\"contains\",\"pattern\":\"a\"", "\"regex\",\"pattern\":\"(\"");
        QTest::newRow("unusable rule")
            << wrap(good + "," + good + "," + badRegex)
            << QStringLiteral("第3条规则的正则表达式无效：missing closing parenthesis (位置 1)");
    }
    void badJsonIsRefusedWithItsReason()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        QString got;
        QVERIFY(rulesFromJson(json, &got).empty());
        QVERIFY2(got.startsWith(error), qPrintable(got));
        if (!error.endsWith(QStringLiteral("：")))
            QCOMPARE(got, error);
    }

    void settingsSurviveARestartAndDropWhatNoLongerValidates()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("portwright.ini"));
        const std::vector<ReplyRule> rules = {
            rule(MatchType::Regex, QStringLiteral("^温度=(\\d+)$"), QStringLiteral("收到\\1")),
            disabled(rule(MatchType::HexBytes, "AA 55", "55 AA", true)),
            rule(MatchType::Contains, "", "any"),
        };
        {
            QSettings settings(path, QSettings::IniFormat);
            QVERIFY(saveRules(
                settings, QStringLiteral("window/replyRules"), {rules[0], rules[0], rules[0], rules[0]}));
            QVERIFY(saveRules(settings, QStringLiteral("window/replyRules"), rules));
            QVERIFY(saveRules(settings, QStringLiteral("other"), {rules[2]}));
        }
        {
            QSettings settings(path, QSettings::IniFormat);
            QCOMPARE(loadRules(settings, QStringLiteral("window/replyRules")), rules);
            QCOMPARE(loadRules(settings, QStringLiteral("other")), std::vector<ReplyRule>{rules[2]});
            QCOMPARE(loadRules(settings, QStringLiteral("missing")), std::vector<ReplyRule>());
            // A hand-edited file: a broken regex and an unknown match type.
            settings.beginWriteArray(QStringLiteral("window/replyRules"), int(rules.size()));
            settings.setArrayIndex(0);
            settings.setValue(QStringLiteral("pattern"), QStringLiteral("(("));
            settings.setArrayIndex(1);
            settings.setValue(QStringLiteral("match"), QStringLiteral("sometimes"));
            settings.endArray();
        }
        QSettings settings(path, QSettings::IniFormat);
        QCOMPARE(loadRules(settings, QStringLiteral("window/replyRules")), std::vector<ReplyRule>{rules[2]});
    }

    // More rules than a window takes, or than a file's compile budget, are
    // refused as a whole, with the reason.
    void aFileWithTooManyRulesIsRefused()
    {
        const ReplyRule one = rule(MatchType::Contains, "a", "b");
        QString error;
        QCOMPARE(rulesFromJson(rulesToJson(std::vector<ReplyRule>(5000, one)), &error).size(), size_t(5000));
        QCOMPARE(error, QString());
        QCOMPARE(
            rulesFromJson(rulesToJson(std::vector<ReplyRule>(5001, one)), &error), std::vector<ReplyRule>());
        QCOMPARE(error, QStringLiteral("规则文件中的规则过多：5001 条，最多 5000 条"));

        // Few enough, but compiled together past what a file may cost.
        const ReplyRule costly = rule(MatchType::Regex, "(?:\\w\\d){10000}", "x");
        QVERIFY(rulesFromJson(rulesToJson(std::vector<ReplyRule>(300, costly)), &error).empty());
        QVERIFY2(
            error.endsWith(QStringLiteral("条规则使正则表达式编译后的总大小超出 32 MB")), qPrintable(error));
    }

    // A hand-edited settings file whose list claims far more entries than it
    // holds: only the entries there are read, and never more than a window
    // takes.
    void settingsListsAreReadForTheEntriesTheyHold()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("portwright.ini"));
        const auto entries = [](int count, int from = 1) {
            QByteArray text;
            for (int k = from; k < from + count; ++k) {
                const QByteArray n = QByteArray::number(k);
                text += n + "\\enabled=true\n" + n + "\\match=contains\n" + n + "\\pattern=p" + n + "\n" + n
                    + "\\reply=r\n" + n + "\\replyIsHex=false\n";
            }
            return text;
        };
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[claims]\n" + entries(3) + "size=2000000000\n");
        // Entries beyond what the list claims are not part of it.
        file.write("[short]\n" + entries(3) + "size=2\n");
        file.write("[many]\n" + entries(5003) + "size=5003\n");
        file.write("[gaps]\n" + entries(1) + entries(1, 7) + "size=9\n");
        file.close();

        QSettings settings(path, QSettings::IniFormat);
        const std::vector<ReplyRule> claims = loadRules(settings, QStringLiteral("claims"));
        QCOMPARE(claims.size(), size_t(3));
        QCOMPARE(claims[2], rule(MatchType::Contains, "p3", "r"));
        QCOMPARE(loadRules(settings, QStringLiteral("short")).size(), size_t(2));
        const std::vector<ReplyRule> many = loadRules(settings, QStringLiteral("many"));
        QCOMPARE(many.size(), size_t(5000));
        QCOMPARE(many.back().pattern, QStringLiteral("p5000"));
        const std::vector<ReplyRule> gaps = loadRules(settings, QStringLiteral("gaps"));
        QCOMPARE(gaps.size(), size_t(2));
        QCOMPARE(gaps[1].pattern, QStringLiteral("p7"));
    }

    // Twenty rules, nineteen of which fail on every piece before the regex
    // answers: every piece goes through the whole list.
    void twentyRulesAnswerTwentyThousandPieces()
    {
        std::vector<ReplyRule> rules;
        for (int k = 0; k < 19; ++k) {
            const MatchType types[] = {MatchType::Equals, MatchType::Contains, MatchType::StartsWith,
                MatchType::EndsWith, MatchType::HexBytes};
            const MatchType m = types[k % 5];
            rules.push_back(
                rule(m, m == MatchType::HexBytes ? "EE EE" : QStringLiteral("never%1").arg(k), "no"));
        }
        rules.push_back(rule(MatchType::Regex, "^ID=(\\d+);", "ACK \\1 #{count} {len}"));
        ReplyRuleSet set;
        set.setRules(rules);

        QElapsedTimer clock;
        clock.start();
        int answered = 0;
        QByteArray last;
        for (int k = 0; k < 20000 && clock.elapsed() < 60000; ++k) {
            const auto reply = set.replyTo("ID=" + QByteArray::number(k) + ";payload payload payload");
            if (reply) {
                ++answered;
                last = *reply;
            }
        }
        qInfo("20 rules x 20000 pieces: %lld ms", qint64(clock.elapsed()));
        QCOMPARE(answered, 20000);
        QCOMPARE(set.repliesGiven(), 20000);
        QCOMPARE(last, QByteArray("ACK 19999 #20000 32"));
    }
};

QTEST_GUILESS_MAIN(TstReplyRules)
#include "tst_replyrules.moc"

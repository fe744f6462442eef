#include "support/Reliability.h"

#include "support/FixtureShare.h"

#include "platform/Odbc.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace reliability
{

namespace
{
std::vector<void (*)()>& settlers()
{
    static std::vector<void (*)()> list;
    return list;
}
} // namespace

void settleBeforeChildren(void (*settle)())
{
    if (std::find(settlers().begin(), settlers().end(), settle) == settlers().end())
        settlers().push_back(settle);
}

void settleThreads()
{
    for (void (*settle)() : settlers())
        settle();
}

// ---------------------------------------------------------------- children

QStringList ChildOutcome::boxes() const
{
    QStringList lines;
    for (const QString& line : err.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("[msgbox] ")))
            lines << line;
    }
    return lines;
}

QString ChildOutcome::lastBox() const
{
    const QStringList all = boxes();
    return all.isEmpty() ? QString() : all.last();
}

QString ChildOutcome::result(const QString& key) const
{
    const QString prefix = QStringLiteral("[result] ") + key + QLatin1Char('=');
    QString value;
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix))
            value = line.mid(prefix.size());
    }
    value.replace(QLatin1String("\\n"), QLatin1String("\n"));
    return value;
}

QString ChildOutcome::exactResult(const QString& key) const
{
    const QByteArray raw = QByteArray::fromBase64(result(key + QStringLiteral(".b64")).toLatin1());
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), raw.size() / 2);
}

bool ChildOutcome::sanitizerReport() const
{
    static const char* const markers[] = {"ERROR: AddressSanitizer",
                                          "AddressSanitizer:DEADLYSIGNAL",
                                          "runtime error:",
                                          "ERROR: LeakSanitizer",
                                          "SUMMARY: UndefinedBehaviorSanitizer",
                                          "*** stack smashing",
                                          "free(): ",
                                          "malloc(): ",
                                          "double free or corruption"};
    for (const char* marker : markers) {
        if (err.contains(QLatin1String(marker)))
            return true;
    }
    return false;
}

bool ChildOutcome::endedCleanly() const
{
    return exited && !timedOut && exitCode >= 0 && exitCode <= 3 && !sanitizerReport();
}

QString ChildOutcome::describe() const
{
    QString how;
    if (timedOut)
        how = QStringLiteral("timed out after %1 s").arg(seconds);
    else if (exited)
        how = QStringLiteral("exit code %1").arg(exitCode);
    else
        how = QStringLiteral("signal %1").arg(signal);
    // Its start and its end: where it went wrong and how it ended.
    const auto shown = [](const QString& text) {
        return text.size() > 4000 ? text.left(2000) + QStringLiteral("\n...\n") + text.right(2000) : text;
    };
    return how + QStringLiteral("\n--- stderr ---\n") + shown(err) + QStringLiteral("\n--- stdout ---\n") +
           shown(out);
}

bool replaying()
{
    return FixtureShare::replaying();
}

void endChildWith(const std::function<void()>& body)
{
    FixtureShare::bodyStarts();
    try {
        body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "[child] exception escaped the body: %s\n", e.what());
        std::fflush(stderr);
        std::_Exit(97);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(kChildReturned);
}

void report(const QString& key, const QString& value)
{
    QString v = value;
    v.replace(QLatin1String("\n"), QLatin1String("\\n"));
    std::fprintf(stdout, "[result] %s=%s\n", key.toUtf8().constData(), v.toUtf8().constData());
    std::fflush(stdout);
}

void reportExact(const QString& key, const QString& value)
{
    // UTF-16 as it stands, so that even a lone surrogate comes back.
    const QByteArray raw(reinterpret_cast<const char*>(value.utf16()), value.size() * 2);
    report(key + QStringLiteral(".b64"), QString::fromLatin1(raw.toBase64()));
}

// ---------------------------------------------------------------- snapshots

namespace
{

QString quotedTable(const QString& name)
{
    QString inner = name;
    inner.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

int columnIndex(const DbRows& rows, const QString& column)
{
    if (rows.empty())
        return -1;
    const DbRow& header = rows.front();
    for (size_t i = 0; i < header.size(); ++i) {
        if (header[i].value_or(QString()).compare(column, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

QString rowText(const DbRow& row)
{
    QStringList cells;
    for (const DbValue& v : row)
        cells << (v ? (v->size() > 40 ? v->left(40) + QStringLiteral("...") : *v) : QStringLiteral("NULL"));
    return QLatin1Char('(') + cells.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QString firstDifference(const DbRows& before, const DbRows& after)
{
    const size_t n = std::min(before.size(), after.size());
    for (size_t i = 0; i < n; ++i) {
        if (before[i] != after[i])
            return rowText(before[i]) + QStringLiteral(" became ") + rowText(after[i]);
    }
    return QStringLiteral("%1 rows became %2").arg(before.size()).arg(after.size());
}

} // namespace

TableRows snapshotAll(TestDatabase& db, const QString& name)
{
    return snapshotFile(db.path(name));
}

TableRows snapshotFile(const QString& filePath)
{
    TableRows all;
    // A replay skips the checks a snapshot is taken for: reading every table
    // for each earlier child made a Windows child's start grow with its index.
    if (replaying())
        return all;
    const DbRows tables = TestDatabase::queryFile(
        filePath,
        QStringLiteral("select name from sqlite_master where type = 'table' and name not like 'sqlite_%'"));
    for (const DbRow& t : tables) {
        const QString table = t.at(0).value_or(QString());
        DbRows rows;
        DbRow header;
        for (const DbRow& column : TestDatabase::queryFile(
                 filePath,
                 QStringLiteral("select name from pragma_table_info(%1)").arg(TestDatabase::sqlQuote(table))))
            header.push_back(column.at(0));
        rows.push_back(header);
        const DbRows data = TestDatabase::queryFile(
            filePath, QStringLiteral("select * from %1 order by rowid").arg(quotedTable(table)));
        rows.insert(rows.end(), data.begin(), data.end());
        all[table] = rows;
    }
    return all;
}

QStringList unexpectedChanges(const TableRows& before, const TableRows& after, bool newSlabAllowed)
{
    QStringList changes;
    for (const auto& [table, rows] : before) {
        if (!after.count(table))
            changes << QStringLiteral("%1: table gone").arg(table);
    }
    for (const auto& [table, rows] : after) {
        const auto old = before.find(table);
        if (old == before.end()) {
            changes << QStringLiteral("%1: new table").arg(table);
            continue;
        }
        if (rows == old->second)
            continue;
        if (newSlabAllowed && table.compare(QLatin1String("vatmaster"), Qt::CaseInsensitive) == 0 &&
            rows.size() == old->second.size() + 1 &&
            std::equal(old->second.begin(), old->second.end(), rows.begin())) {
            const int id = columnIndex(rows, QStringLiteral("VATID"));
            const int name = columnIndex(rows, QStringLiteral("VATName"));
            bool hadNewSlab = false;
            for (size_t i = 1; id >= 0 && i < old->second.size(); ++i)
                hadNewSlab = hadNewSlab || old->second[i][static_cast<size_t>(id)] == DbValue("5019");
            const DbRow& added = rows.back();
            if (id >= 0 && name >= 0 && !hadNewSlab && added[static_cast<size_t>(id)] == DbValue("5019") &&
                added[static_cast<size_t>(name)] == DbValue("GST 5% (18% above Rs 1000)"))
                continue;
        }
        changes << QStringLiteral("%1: %2").arg(table, firstDifference(old->second, rows));
    }
    return changes;
}

void copyDatabase(TestDatabase& db, const QString& from, const QString& to)
{
    if (db.skipsSetUp())
        return;
    const QString target = db.path(to);
    QFile::remove(target);
    QFile::remove(target + QStringLiteral("-journal"));
    if (!QFile::copy(db.path(from), target))
        throw std::runtime_error("cannot copy database " + from.toStdString());
}

QString sqliteIdentifier(const QString& name)
{
    return quotedTable(name);
}

QString boxLine(const QString& icon, const QString& title, const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    return QStringLiteral("[msgbox] icon=%1 title=%2 text=%3").arg(icon, title, shown);
}

QString productsRefusalBox()
{
    return boxLine(QStringLiteral("critical"), QStringLiteral("Products"),
                   QStringLiteral("This utility cannot run!\r\nSome Products already have GST type 'GST 5% "
                                  "(18% above Rs 1000)' assigned to them."));
}

QString canarySql()
{
    return QStringLiteral("create table canary (id integer primary key, note varchar(50));"
                          "insert into canary values (1, 'still here'), (2, 'me too');");
}

bool canaryIntact(TestDatabase& db, const QString& name)
{
    try {
        return db.queryRows(name, QStringLiteral("select id, note from canary order by id")) ==
               DbRows({{QStringLiteral("1"), QStringLiteral("still here")},
                       {QStringLiteral("2"), QStringLiteral("me too")}});
    } catch (const std::exception&) {
        return false;
    }
}

// ---------------------------------------------------------------- statements

void traceStatementsTo(const QString& path)
{
    auto file = std::make_shared<QFile>(path);
    file->open(QIODevice::WriteOnly | QIODevice::Append);
    gst::Connection::setTraceHook([file](const QString& sql) {
        file->write(sql.toUtf8().toBase64() + '\n');
        file->flush();
    });
}

QStringList statementsFrom(const QString& path)
{
    QFile file(path);
    QStringList statements;
    if (!file.open(QIODevice::ReadOnly))
        return statements;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            statements << QString::fromUtf8(QByteArray::fromBase64(line));
    }
    return statements;
}

QString regexLiteral(const QString& text)
{
    return QRegularExpression::escape(text);
}

QStringList foreignStatements(const QStringList& statements, const QStringList& quotedTables)
{
    const QString number = QStringLiteral("-?\\d+");
    QString table;
    if (quotedTables.isEmpty()) {
        table = QStringLiteral("(?:\\[(?:[^\\]]|\\]\\])*\\]|\"(?:[^\"]|\"\")*\")");
    } else {
        QStringList alternatives;
        for (const QString& t : quotedTables)
            alternatives << regexLiteral(t);
        table = QStringLiteral("(?:") + alternatives.join(QLatin1Char('|')) + QLatin1Char(')');
    }
    const QString insertPrefix = regexLiteral(QStringLiteral("insert into vatmaster \r\n (VATID,VATName "));
    const QStringList shapes = {
        regexLiteral(QStringLiteral("select billdate from options")),
        regexLiteral(QStringLiteral("SELECT COUNT(*) FROM FirmMaster WHERE Enabled=1 AND DBName<>''")),
        regexLiteral(QStringLiteral("SELECT Value FROM Options2 WHERE Name='MultiDB'")),
        regexLiteral(QStringLiteral("Select Name, FirmId From FirmMaster Where Enabled = 1 AND DBName<>''")),
        regexLiteral(QStringLiteral("Select DBName From FirmMaster Where FirmID = ")) + number,
        regexLiteral(QStringLiteral("select * from usermaster where loginname =?")),
        QStringLiteral("select \\*, cast\\(Password as varbinary\\(max\\)\\) as \\w+ from usermaster where "
                       "loginname =\\?"),
        regexLiteral(QStringLiteral("select count(*) from lobmaster ")),
        regexLiteral(QStringLiteral("select lobid from lobmaster")),
        regexLiteral(QStringLiteral("select name from lobmaster")),
        regexLiteral(QStringLiteral("select name from lobmaster order by lobid")),
        regexLiteral(QStringLiteral("select lobid from lobmaster where name=?")),
        regexLiteral(QStringLiteral("select productwisevat from lobmaster where lobid=")) + number,
        regexLiteral(QStringLiteral("select name from lobattribute la, attributemaster am where "
                                    "la.attributeid=am.attributeid and la.vatable=1 and lobid=")) +
            number,
        regexLiteral(QStringLiteral("Select ProductWiseVat From LobMaster Where LobId=")) + number,
        regexLiteral(QStringLiteral("select count(*) from vatmaster where vatid = 5019 ")),
        insertPrefix + QStringLiteral("[^']*'GST 5% \\(18% above Rs 1000\\)'[^;]*\\) "),
        regexLiteral(QStringLiteral("select vatid from vatmaster where vatid = 5019")),
        regexLiteral(QStringLiteral("Select Count(*) from Products Where LobId=")) + number +
            regexLiteral(QStringLiteral(" And vatid=")) + number,
        regexLiteral(QStringLiteral("select count(*) from ")) + table +
            regexLiteral(QStringLiteral(" where lobid=")) + number +
            regexLiteral(QStringLiteral(" and vatid=")) + number,
        QStringLiteral("BEGIN TRANSACTION"),
        QStringLiteral("COMMIT"),
        QStringLiteral("ROLLBACK"),
        regexLiteral(QStringLiteral("update ")) + table + regexLiteral(QStringLiteral(" set vatid=")) +
            number + regexLiteral(QStringLiteral(",VatPer=5,GSTID=")) + number +
            regexLiteral(QStringLiteral("  where lobid=")) + number +
            regexLiteral(QStringLiteral(" and vatid=5010")),
        regexLiteral(QStringLiteral("update products set vatid=")) + number +
            regexLiteral(QStringLiteral(" ,VatPer=5 where lobid=")) + number +
            regexLiteral(QStringLiteral(" and vatid=5010")),
        regexLiteral(QStringLiteral("exec master.dbo.xp_servicecontrol 'Start', 'SQLServerAgent' ")),
    };
    std::vector<QRegularExpression> patterns;
    for (const QString& shape : shapes)
        patterns.emplace_back(QRegularExpression::anchoredPattern(shape),
                              QRegularExpression::DotMatchesEverythingOption);
    QStringList foreign;
    for (const QString& sql : statements) {
        bool known = false;
        for (const QRegularExpression& p : patterns)
            known = known || p.match(sql).hasMatch();
        if (!known)
            foreign << sql;
    }
    return foreign;
}

// ---------------------------------------------------------------- hostile strings

std::vector<Hostile> hostileCorpus()
{
    std::vector<Hostile> corpus = {
        {"apostrophe", "'"},
        {"two apostrophes", "''"},
        {"or 1=1", "' OR '1'='1"},
        {"or 1=1 comment", "' OR 1=1 --"},
        {"admin comment", "admin'--"},
        {"admin block comment", "admin' /*"},
        {"drop canary", "'; DROP TABLE canary; --"},
        {"drop canary double quote", "\"; DROP TABLE canary; --"},
        {"delete users", "x'; delete from usermaster; --"},
        {"update products", "'; update Products set vatid=5019; --"},
        {"union select", "' UNION SELECT * FROM usermaster --"},
        {"union select password", "x' union select Password from usermaster where '1'='1"},
        {"union bare", "UNION SELECT 1"},
        {"closing bracket", "]"},
        {"opening bracket", "["},
        {"doubled brackets", "]]"},
        {"bracket break-out", "x]; drop table canary; --"},
        {"bracket break-out 2", "x] set vatid=1; drop table canary; --"},
        {"double quote", "\""},
        {"double quote break-out", "x\"; drop table canary; --"},
        {"backtick", "`x`; drop table canary"},
        {"semicolon", ";"},
        {"statement separators", ";;;"},
        {"line comment", "--"},
        {"block comment", "/*"},
        {"block comment end", "*/"},
        {"hash comment", "# comment"},
        {"percent", "%"},
        {"underscore", "_"},
        {"like pattern", "%_%"},
        {"backslash", "\\"},
        {"backslash apostrophe", "\\'"},
        {"question mark", "?"},
        {"parameter markers", "a?b?c"},
        {"named parameters", ":name @p $1"},
        {"odbc function escape", "{fn user()}"},
        {"odbc call escape", "{call xp_cmdshell('dir')}"},
        {"odbc escape in brackets", "x{fn now()}y"},
        {"braces", "}{"},
        {"xp_cmdshell", "'; exec master.dbo.xp_cmdshell 'dir'; --"},
        {"waitfor", "1; WAITFOR DELAY '0:0:5' --"},
        {"char function", "' + CHAR(39) + '"},
        {"percent-encoded quote", "%27%20OR%201%3D1"},
        {"html", "<b>bold</b><img src=x>"},
        {"format specifiers", "%s%n%x%d %1 %2"},
        {"tab", "a\tb"},
        {"newline", "line1\nline2"},
        {"carriage return line feed", "line1\r\nline2"},
        {"escape sequence", "\x1b[31mred\x1b[0m"},
        {"bell and backspace", "a\x07\x08z"},
        {"delete character", "a\x7f"},
        {"leading and trailing blanks", "  padded  "},
        {"only blanks", "   "},
        {"devanagari", QString::fromUtf8("नमस्ते दुकान")},
        {"chinese", QString::fromUtf8("中文名称")},
        {"greek", QString::fromUtf8("Ελληνικά")},
        {"hebrew", QString::fromUtf8("עברית")},
        {"arabic", QString::fromUtf8("العربية")},
        {"emoji", QString::fromUtf8("shop 😀🛒")},
        {"right-to-left override", QString::fromUtf8("abc\u202Edef")},
        {"zero width joiner", QString::fromUtf8("a\u200Db")},
        {"combining marks", QString::fromUtf8("e\u0301\u0301\u0301")},
        {"windows-1252 specials", QString::fromUtf8("€‚ƒ„…†‡")},
        {"long 10000", QString(10000, QLatin1Char('A'))},
        {"long 10000 quotes", QString(10000, QLatin1Char('\''))},
        {"long 10000 mixed", QStringLiteral("';--]\"?{").repeated(1250)},
        {"long 40000", QStringLiteral("x]'").repeated(13334)},
    };
    return corpus;
}

std::vector<Hostile> hostileCorpusWithNul()
{
    std::vector<Hostile> corpus = hostileCorpus();
    corpus.push_back({"nul inside", QStringLiteral("admin") + QChar(0) + QStringLiteral("x")});
    corpus.push_back({"nul alone", QString(QChar(0))});
    return corpus;
}

} // namespace reliability

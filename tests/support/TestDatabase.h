#pragma once

#include "support/FixtureShare.h"
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

// One value read back from SQLite: std::nullopt for NULL, otherwise the text
// SQLite gives for the value (integers as "5", reals as "5.0", text as stored).
using DbValue = std::optional<QString>;
using DbRow = std::vector<DbValue>;
using DbRows = std::vector<DbRow>;

// A fresh temporary folder of SQLite database files, written and read with the
// sqlite3 C library directly (never through ODBC), so that tests can set up and
// inspect the databases the code under test reaches through the "SQLite3" ODBC
// driver. The folder, its files and the settings are removed when the object
// is destroyed; XDG_CONFIG_HOME is put back as it was.
//
// Failures (unreadable schema, SQL errors) throw std::runtime_error with the
// SQLite message, which GoogleTest reports as a failure of the running test.
//
// A database named N is the file "<folder()>/N.db", which is what an ODBC
// connection with Data Source = folder() and Initial Catalog = N opens.
class TestDatabase
{
public:
    TestDatabase();
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    // The temporary folder: the server name for login settings that use SQLite.
    QString folder() const;
    // "<folder()>/<name>.db".
    QString path(const QString& name) const;

    // Creates (or replaces) database `name`: every table of db/schema.sql, then
    // extraSql (any number of statements; attribute value tables go here).
    void createDatabase(const QString& name, const QString& extraSql = QString());

    // Runs statements on an existing database file.
    void exec(const QString& name, const QString& sql);
    // Runs one statement with its "?" placeholders bound in order; nullopt binds NULL.
    void exec(const QString& name, const QString& sql, const DbRow& params);
    // Every row of one SELECT, all columns as text.
    DbRows queryRows(const QString& name, const QString& sql);
    // First column of the first row; nullopt when there is no row or the value is NULL.
    DbValue scalar(const QString& name, const QString& sql);
    // Column names of a table, in table order.
    QStringList columnNames(const QString& name, const QString& table);

    // The same on any SQLite file, e.g. the demo databases.
    static void execFile(const QString& filePath, const QString& sql, const DbRow& params = {});
    static DbRows queryFile(const QString& filePath, const QString& sql);

    // Writes <folder()>/config/talvex/login.ini with the lines ServerName=,
    // pwd=, and Driver= / Options= when those are not empty, gives it the
    // permission bits `permissions`, and points XDG_CONFIG_HOME at
    // <folder()>/config so that the code under test finds the file.
    // Returns the file's path.
    QString writeLoginSettings(const QString& serverName, const QString& pwd,
                               const QString& driver = QStringLiteral("SQLite3"),
                               const QString& options = QString(), int permissions = 0600);
    // The same with the file's exact content, for malformed or partial files.
    QString writeLoginSettingsText(const QByteArray& content, int permissions = 0600);

    // The whole of db/schema.sql.
    static QString schemaSql();

    // A small, complete single-firm data set, for createDatabase(name, standardRetailData()).
    // Tests rely on these exact rows; add to them only in the test itself.
    //
    //   options       billdate '2019-04-01 00:00:00'
    //   Options2      ('MultiDB', 0)
    //   FirmMaster    no rows
    //   usermaster    (UserId 1, 'admin', storedPasswordForm("admin123"), 'Administrator',
    //                  Enabled 1, Defaultmenu 1, ProcessId 1)
    //   vatmaster     5003 'GST 5%'  (VATPer 5,  SlabApplicable 0)
    //                 5005 'GST 18%' (VATPer 18, SlabApplicable 0)
    //                 5010 'GST 5% (18% above Rs 500)' (VATPer 5, SlabApplicable 1, SlabQuery set,
    //                      SortIndex 10); no 5019. Empty SlabQuery/RateQuery are '' rather than NULL.
    //   lobmaster     (1, 'Grocery', productwisevat 1), (2, 'Apparel', productwisevat 0)
    //   attributemaster (1, 'Fabric'), (2, 'Colour')
    //   lobattribute  (2, 1, vatable 1), (2, 2, vatable 0)   -- Apparel taxes by Fabric
    //   Products      (ProductId, Name, LobId, vatid, VatPer)
    //                 (1, 'Rice 5kg',     1, 5003, 5)
    //                 (2, 'Biscuits',     1, 5005, 18)
    //                 (3, 'Gift Hamper',  1, 5010, 5)
    //                 (4, 'Sweets Box',   1, 5010, 5)
    //                 (5, 'Cotton Shirt', 2, 5010, 5)
    //                 (6, 'Silk Saree',   2, 5005, 18)
    //   FabricMaster  (Id, Name, lobid, vatid, VatPer, GSTID)
    //                 (1, 'Cotton', 2, 5010, 5, 5010)
    //                 (2, 'Silk',   2, 5005, 18, 5005)
    //                 (3, 'Denim',  2, 5010, 5, 5010)
    //                 (4, 'Khadi',  2, 5003, 5, 5003)
    //   ColourMaster  (1, 'White', 2, 0, 0, 0)
    //                 (2, 'Black', 2, 5010, 5, 5010)   -- not taxable: must never change
    static QString standardRetailData();

    // How the retail application keeps a password: each character's Windows-1252
    // code c becomes the character whose code is 255 - c. The five codes
    // Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for
    // U+0081, U+008D, U+008F, U+0090, U+009D. Written apart from the production
    // code so that tests can use it as an oracle. The mapping is its own inverse,
    // so it also turns a stored password back into clear text. Throws
    // std::invalid_argument for a character Windows-1252 cannot hold.
    static QString storedPasswordForm(const QString& clear);
    static QString clearPasswordForm(const QString& stored) { return storedPasswordForm(stored); }

    // A SQL string literal: 'text' with quotes doubled.
    static QString sqlQuote(const QString& text);

    // In a Windows child, the parent's folder: its set-up is not done again.
    bool isInherited() const { return m_share.inherited().has_value(); }
    bool skipsSetUp() const { return m_share.skipsSetUp(); }

private:
    FixtureShare m_share{"database"};
    std::unique_ptr<QTemporaryDir> m_dir;
    bool m_configEnvSaved = false;
    bool m_configEnvWasSet = false;
    QByteArray m_configEnvOld;
};

// Code page 1252 as SQL Server keeps it: the character of a code (0 to 255), and
// the code of a character or -1. The suite's own table, apart from the
// program's, so that each checks the other; the TDS peer speaks it too.
QChar cp1252Char(int code);
int cp1252Code(QChar ch);

// Unqualified spellings of the helpers above.
inline QString storedPasswordForm(const QString& clear)
{
    return TestDatabase::storedPasswordForm(clear);
}
// What the OK button sends for line `lobId` from the new slab's lookup to the
// end of the transaction, as the driver receives it: `valueTable` quoted as
// sent, empty for a product-wise line; `catalog` the statement a driver sends
// for the table lookup (sp_tables on SQL Server), `commit` its end of the
// transaction. The three statement traces of the suite share it.
inline QStringList okStatements(int lobId, const QString& valueTable, const QStringList& commit,
                                const QString& catalog = QString())
{
    const QString lob = QString::number(lobId);
    QStringList s{QStringLiteral("select vatid from vatmaster where vatid = 5019")};
    if (!valueTable.isEmpty() && !catalog.isEmpty())
        s << catalog;
    s << (valueTable.isEmpty()
              ? QStringLiteral("Select Count(*) from Products Where LobId=%1 And vatid=5019").arg(lob)
              : QStringLiteral("select count(*) from %1 where lobid=%2 and vatid=5019").arg(valueTable, lob));
    if (!commit.isEmpty())
        s << QStringLiteral("BEGIN TRANSACTION");
    if (!valueTable.isEmpty() && !commit.isEmpty())
        s << QStringLiteral("update %1 set vatid=5019,VatPer=5,GSTID=5019  where lobid=%2 and vatid=5010")
                 .arg(valueTable, lob);
    if (!commit.isEmpty())
        s << QStringLiteral("update products set vatid=5019 ,VatPer=5 where lobid=%1 and vatid=5010").arg(lob)
          << commit;
    return s;
}

inline QString standardRetailData()
{
    return TestDatabase::standardRetailData();
}

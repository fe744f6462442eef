-- Tables and columns the GST slab utility reads and writes, in SQLite's
-- dialect. The application's own database "talvex" and every firm database
-- share this layout. Per-attribute value tables (<attribute name>Master) are
-- not here: which ones exist depends on the data, so the data files create them.

create table options (
    billdate datetime
);

create table Options2 (
    Name varchar(50),
    Value bit
);

create table FirmMaster (
    FirmId int,
    Name varchar(100),
    Enabled int,
    DBName varchar(100)
);

create table usermaster (
    UserId smallint,
    loginname varchar(50),
    Password varchar(50),
    Name varchar(100),
    Enabled bit,
    Defaultmenu bit,
    ProcessId smallint
);

create table lobmaster (
    lobid smallint,
    name varchar(100),
    productwisevat bit
);

-- No "name" column here and no "lobid" in attributemaster: the taxable-attribute
-- lookup joins the two without qualifying those columns.
create table lobattribute (
    lobid smallint,
    attributeid int,
    vatable int
);

create table attributemaster (
    attributeid int,
    name varchar(100)
);

create table Products (
    ProductId integer primary key,
    Name varchar(100),
    LobId smallint,
    vatid smallint,
    VatPer decimal(18,2)
);

create table vatmaster (
    VATID smallint primary key,
    VATName varchar(100),
    VATPer decimal(18,4),
    SortIndex int,
    MarginVat int,
    Sendable int,
    RegionalName varchar(100),
    EnabledForCST int,
    RDExempt int,
    CessBasedOn int,
    CessPer decimal(18,2),
    CessAmtPerUnit decimal(18,2),
    SGSTPer decimal(18,2),
    CGSTPer decimal(18,2),
    IGSTPer decimal(18,2),
    UTGSTPer decimal(18,2),
    SlabApplicable int,
    SlabQuery varchar(1000),
    Disabled int,
    RateQuery varchar(1000),
    caption varchar(100)
);

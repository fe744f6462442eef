-- The application's own database. It lists the firms for the firm picker and
-- also carries a full retail data set, so that it works as a single-firm
-- database too.

insert into options (billdate) values ('2019-04-01 00:00:00');

insert into Options2 (Name, Value) values ('MultiDB', 1);

-- Firm 3 is switched off, so only two firms are offered.
insert into FirmMaster (FirmId, Name, Enabled, DBName) values
    (1, 'Sunrise Retail', 1, 'firm_sunrise'),
    (2, 'Harbour Stores', 1, 'firm_harbour'),
    (3, 'Old Branch', 0, 'firm_old');

-- Passwords are kept with every Windows-1252 code c replaced by 255-c:
-- admin/admin123, cashier/blocked1 (blocked), manager/Shop@2018.
insert into usermaster (UserId, loginname, Password, Name, Enabled, Defaultmenu, ProcessId) values
    (1, 'admin', 'ž›’–‘ÎÍÌ', 'Administrator', 1, 1, 1),
    (2, 'cashier', '“œ”š›Î', 'Counter Cashier', 0, 0, 2),
    (3, 'manager', '¬—¿ÍÏÎÇ', 'Store Manager', 1, 0, 1);

insert into vatmaster (VATID, VATName, VATPer, SortIndex, MarginVat, Sendable, RegionalName, EnabledForCST,
                       RDExempt, CessBasedOn, CessPer, CessAmtPerUnit, SGSTPer, CGSTPer, IGSTPer, UTGSTPer,
                       SlabApplicable, SlabQuery, Disabled, RateQuery, caption) values
    (5003, 'GST 5%', 5.0000, 3, 0, 1, 'GST 5%', 0, 0, 0, 0.00, 0.00, 2.50, 2.50, 5.00, 2.50,
     0, '', 0, '', 'GST 5%'),
    (5005, 'GST 18%', 18.0000, 5, 0, 1, 'GST 18%', 0, 0, 0, 0.00, 0.00, 9.00, 9.00, 18.00, 9.00,
     0, '', 0, '', 'GST 18%'),
    (5010, 'GST 5% (18% above Rs 500)', 5.0000, 10, 0, 1, 'GST 5% (18% above Rs 500)', 0, 0, 0, 0.00, 0.00,
     2.50, 2.50, 5.00, 2.50,
     1, 'select (case @additional when 1 then (case when @rate>500 then 5005 else 5003 end) when 0 then (case when @rate>590 then 5005 else 5003 end) end)',
     0, '', 'GST 5% (18% above Rs 500)');

-- Grocery and Handloom take their slab from the product; Apparel and Footwear
-- from the value of their taxable attribute.
insert into lobmaster (lobid, name, productwisevat) values
    (1, 'Grocery', 1),
    (2, 'Apparel', 0),
    (3, 'Footwear', 0),
    (4, 'Handloom', 1);

insert into attributemaster (attributeid, name) values
    (1, 'Fabric'),
    (2, 'Colour'),
    (3, 'Size');

insert into lobattribute (lobid, attributeid, vatable) values
    (2, 1, 1),
    (2, 2, 0),
    (3, 3, 1),
    (3, 2, 0);

insert into Products (ProductId, Name, LobId, vatid, VatPer) values
    (1, 'Basmati Rice 5kg', 1, 5003, 5.00),
    (2, 'Sugar 1kg', 1, 5003, 5.00),
    (3, 'Tea Leaves 500g', 1, 5003, 5.00),
    (4, 'Chocolate Bar', 1, 5005, 18.00),
    (5, 'Instant Coffee 200g', 1, 5005, 18.00),
    (6, 'Festival Gift Hamper', 1, 5010, 5.00),
    (7, 'Men''s Cotton Shirt', 2, 5010, 5.00),
    (8, 'Women''s Kurta', 2, 5010, 5.00),
    (9, 'Silk Saree', 2, 5005, 18.00),
    (10, 'Kids T-Shirt', 2, 5003, 5.00),
    (11, 'Denim Jeans', 2, 5010, 5.00),
    (12, 'Woollen Jacket', 2, 5005, 18.00),
    (13, 'Leather Sandals', 3, 5010, 5.00),
    (14, 'Running Shoes', 3, 5010, 5.00),
    (15, 'Rubber Slippers', 3, 5003, 5.00),
    (16, 'Formal Shoes', 3, 5005, 18.00),
    (17, 'School Shoes', 3, 5010, 5.00),
    (18, 'Cotton Bedsheet', 4, 5010, 5.00),
    (19, 'Bath Towel', 4, 5010, 5.00),
    (20, 'Handloom Dhurrie', 4, 5003, 5.00),
    (21, 'Silk Cushion Cover', 4, 5005, 18.00),
    (22, 'Table Runner', 4, 5010, 5.00);

create table FabricMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                           VatPer decimal(18,2), GSTID smallint);
insert into FabricMaster (Id, Name, lobid, vatid, VatPer, GSTID) values
    (1, 'Cotton', 2, 5010, 5.00, 5010),
    (2, 'Polyester', 2, 5010, 5.00, 5010),
    (3, 'Silk', 2, 5005, 18.00, 5005),
    (4, 'Khadi', 2, 5003, 5.00, 5003),
    (5, 'Denim', 2, 5010, 5.00, 5010),
    (6, 'Wool', 2, 5005, 18.00, 5005);

-- Colour carries no tax; its two rows left on 5010 must stay as they are.
create table ColourMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                           VatPer decimal(18,2), GSTID smallint);
insert into ColourMaster (Id, Name, lobid, vatid, VatPer, GSTID) values
    (1, 'White', 2, 0, 0.00, 0),
    (2, 'Black', 2, 5010, 5.00, 5010),
    (3, 'Navy Blue', 2, 0, 0.00, 0),
    (4, 'Brown', 3, 5010, 5.00, 5010),
    (5, 'Tan', 3, 0, 0.00, 0);

create table SizeMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                         VatPer decimal(18,2), GSTID smallint);
insert into SizeMaster (Id, Name, lobid, vatid, VatPer, GSTID) values
    (1, 'UK 5', 3, 5010, 5.00, 5010),
    (2, 'UK 6', 3, 5010, 5.00, 5010),
    (3, 'UK 7', 3, 5010, 5.00, 5010),
    (4, 'UK 8', 3, 5005, 18.00, 5005),
    (5, 'UK 9', 3, 5003, 5.00, 5003);

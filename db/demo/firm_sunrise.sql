-- Firm database of "Sunrise Retail" (firm 1 in talvex's FirmMaster).

insert into options (billdate) values ('2018-08-15 10:30:00');

insert into Options2 (Name, Value) values ('MultiDB', 0);

-- Passwords are kept with every Windows-1252 code c replaced by 255-c:
-- admin/admin123, cashier/blocked1 (blocked), manager/Shop@2018.
insert into usermaster (UserId, loginname, Password, Name, Enabled, Defaultmenu, ProcessId) values
    (1, 'admin', 'ž›’–‘ÎÍÌ', 'Administrator', 1, 1, 1),
    (2, 'cashier', '“œ”š›Î', 'Sunrise Cashier', 0, 0, 2),
    (3, 'manager', '¬—¿ÍÏÎÇ', 'Sunrise Manager', 1, 0, 1);

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

-- Grocery and Stationery take their slab from the product; Apparel and
-- Footwear from the value of their taxable attribute.
insert into lobmaster (lobid, name, productwisevat) values
    (1, 'Grocery', 1),
    (2, 'Apparel', 0),
    (3, 'Footwear', 0),
    (4, 'Stationery', 1);

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
    (1, 'Toor Dal 1kg', 1, 5003, 5.00),
    (2, 'Wheat Flour 10kg', 1, 5003, 5.00),
    (3, 'Green Tea 100g', 1, 5003, 5.00),
    (4, 'Cornflakes 500g', 1, 5005, 18.00),
    (5, 'Fruit Jam 500g', 1, 5005, 18.00),
    (6, 'Dry Fruit Gift Box', 1, 5010, 5.00),
    (7, 'Sweets Gift Box', 1, 5010, 5.00),
    (8, 'Men''s Linen Shirt', 2, 5010, 5.00),
    (9, 'Women''s Cotton Top', 2, 5010, 5.00),
    (10, 'Silk Dupatta', 2, 5005, 18.00),
    (11, 'Khadi Kurta', 2, 5003, 5.00),
    (12, 'Cotton Trousers', 2, 5010, 5.00),
    (13, 'Wool Shawl', 2, 5005, 18.00),
    (14, 'Polo T-Shirt', 2, 5010, 5.00),
    (15, 'Canvas Shoes', 3, 5010, 5.00),
    (16, 'Kolhapuri Chappal', 3, 5010, 5.00),
    (17, 'Flip Flops', 3, 5003, 5.00),
    (18, 'Leather Boots', 3, 5005, 18.00),
    (19, 'Sports Shoes', 3, 5010, 5.00),
    (20, 'Notebook Pack', 4, 5003, 5.00),
    (21, 'Fountain Pen Set', 4, 5010, 5.00),
    (22, 'Geometry Box', 4, 5005, 18.00),
    (23, 'School Bag', 4, 5010, 5.00),
    (24, 'Desk Organiser', 4, 5005, 18.00);

create table FabricMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                           VatPer decimal(18,2), GSTID smallint);
insert into FabricMaster (Id, Name, lobid, vatid, VatPer, GSTID) values
    (1, 'Cotton', 2, 5010, 5.00, 5010),
    (2, 'Linen', 2, 5010, 5.00, 5010),
    (3, 'Silk', 2, 5005, 18.00, 5005),
    (4, 'Khadi', 2, 5003, 5.00, 5003),
    (5, 'Wool', 2, 5005, 18.00, 5005),
    (6, 'Rayon', 2, 5010, 5.00, 5010);

-- Colour carries no tax; its rows left on 5010 must stay as they are.
create table ColourMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                           VatPer decimal(18,2), GSTID smallint);
insert into ColourMaster (Id, Name, lobid, vatid, VatPer, GSTID) values
    (1, 'White', 2, 0, 0.00, 0),
    (2, 'Maroon', 2, 5010, 5.00, 5010),
    (3, 'Olive', 2, 0, 0.00, 0),
    (4, 'Black', 3, 5010, 5.00, 5010),
    (5, 'Grey', 3, 0, 0.00, 0);

create table SizeMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                         VatPer decimal(18,2), GSTID smallint);
insert into SizeMaster (Id, Name, lobid, vatid, VatPer, GSTID) values
    (1, 'UK 4', 3, 5003, 5.00, 5003),
    (2, 'UK 6', 3, 5010, 5.00, 5010),
    (3, 'UK 8', 3, 5010, 5.00, 5010),
    (4, 'UK 10', 3, 5005, 18.00, 5005);

/* Demo restaurant database: the restaurant's menu, price lists, stations, halls,
   staff and cards, its own order tables, and the intake tables through which
   hand-held terminals hand in their orders.

   Run with isql-fb in dialect 1 after CREATE DATABASE ... DEFAULT CHARACTER SET
   WIN1251 (scripts/demo-db.sh does both). All texts are Windows-1251. */

set sql dialect 1;
set names WIN1251;
set term ^ ;

/* ---- Menu --------------------------------------------------------------- */

create table RESTAURANT_PRICEGROUPS (
  Id      integer not null primary key,
  Name    varchar(60) not null,
  nOrder  integer default 0 not null,
  /* 1: drinks served from the bar; bar staff may order only these */
  IsBar   smallint default 0 not null
)^

create table RESTAURANT_MENU (
  Id              integer not null primary key,
  IdGroup         integer,
  Fullname        varchar(100) not null,
  /* what the terminal proposes: 1 portion, or grams / millilitres for items
     sold by weight or volume */
  DefaultQuantity integer default 1 not null,
  /* unit shown beside the quantity */
  EdVolume        varchar(20) default 'шт' not null,
  /* 1: the waiter types the price (open-price items) */
  ISINPUTPRICE    smallint default 0 not null,
  /* 1: the waiter types the weight or volume */
  ISINPUTVOLUME   smallint default 0 not null,
  /* 1: a modifier (without onions, medium rare...) attached to the dish above */
  ISMODIFIER      smallint default 0 not null,
  /* 1: on the stop list, sold out for today */
  STOPPED         smallint default 0 not null
)^

create table RESTAURANT_PRICELISTS (
  Id    integer not null primary key,
  Name  varchar(60) not null
)^

create table RESTAURANT_PRICES (
  IdPriceList  integer not null references RESTAURANT_PRICELISTS (Id),
  IdMenu       integer not null references RESTAURANT_MENU (Id),
  PRICE        numeric(15, 2) not null,
  primary key (IdPriceList, IdMenu)
)^

/* A station is a place terminals work from (main hall, terrace, bar); its code is
   what a terminal sends as its device. */
create table RESTAURANT_STATIONS (
  Id           integer not null primary key,
  Code         varchar(40) not null unique,
  Name         varchar(60) not null,
  IdPriceList  integer not null references RESTAURANT_PRICELISTS (Id)
)^

create table RESTAURANT_TABLES (
  Number  integer not null primary key,
  Hall    varchar(40) not null,
  Seats   integer default 4 not null
)^

/* ---- Staff -------------------------------------------------------------- */

create table RESTAURANT_CARDS (
  id    integer not null primary key,
  code  varchar(40) not null unique
)^

create table RESTAURANT_WAITERS (
  id      integer not null primary key,
  name    varchar(60) not null,
  /* 1 on shift, 0 off shift, -1 dismissed (hidden from terminals) */
  Status  smallint default 1 not null,
  /* 'W' waiter (whole menu), 'B' bar staff (bar groups only), 'M' manager */
  Role    char(1) default 'W' not null,
  IdCard  integer references RESTAURANT_CARDS (id)
)^

/* ---- The restaurant's own orders ---------------------------------------- */

create generator GEN_RESTAURANT_ORDERS^
create generator GEN_RESTAURANT_ORDERROWS^

create table RESTAURANT_ORDERS (
  Id           integer not null primary key,
  ImportedGuid varchar(64) not null unique,
  TableNumber  integer not null references RESTAURANT_TABLES (Number),
  IdWaiter     integer not null references RESTAURANT_WAITERS (id),
  IdStation    integer not null references RESTAURANT_STATIONS (Id),
  OpenedAt      timestamp default 'NOW' not null,
  Total        numeric(15, 2) default 0 not null
)^

create table RESTAURANT_ORDERROWS (
  Id          integer not null primary key,
  IdOrder     integer not null references RESTAURANT_ORDERS (Id),
  IdMenu      integer not null references RESTAURANT_MENU (Id),
  Quantity    integer not null,
  Volume      integer not null,
  Price       numeric(15, 2) not null,
  /* the dish a modifier belongs to */
  IdParentRow integer
)^

/* ---- Intake of terminal orders ------------------------------------------ */

/* Each table has a generator of the same name that numbers its rows. */
create generator Restaurant_ImportedOrders^
create generator Restaurant_ImportedOrderRows^

create table Restaurant_ImportedOrders (
  id              integer not null primary key,
  /* a terminal may post the same order more than once: it is kept once */
  guid            varchar(64) not null unique,
  DEVICEID        varchar(40),
  WAITERCARDCODE  varchar(40),
  TABLENUMBER     integer,
  ImportedAt       timestamp default 'NOW' not null
)^

create table Restaurant_ImportedOrderRows (
  id             integer not null primary key,
  guidOrder      varchar(64) not null,
  IDPRICE        integer,
  Quantity       integer,
  Volume         integer,
  isModificator  smallint
)^

create index IX_IMPORTEDORDERROWS_GUID on Restaurant_ImportedOrderRows (guidOrder)^

/* ---- Business exceptions: the message is what the waiter reads ---------- */

create exception EX_RESTAURANT_NO_ORDER 'Заказ не найден среди принятых'^
create exception EX_RESTAURANT_NOT_A_WAITER 'Карта не принадлежит официанту'^
create exception EX_RESTAURANT_NO_TABLE 'Такого стола нет в зале'^
create exception EX_RESTAURANT_UNKNOWN_STATION 'Терминал не зарегистрирован'^
create exception EX_RESTAURANT_UNKNOWN_ITEM 'Позиция меню не найдена, обновите меню'^
create exception EX_RESTAURANT_NOT_ON_PRICELIST 'Позиция не продаётся на этом терминале'^
create exception EX_RESTAURANT_STOP_LIST 'Позиция в стоп-листе'^
create exception EX_RESTAURANT_NO_QUANTITY 'Не указано количество'^
create exception EX_RESTAURANT_MODIFIER_ALONE 'Модификатор без блюда'^

/* ---- What a card may order at a station --------------------------------- */

/* The items of the station's price list that are not on the stop list; bar staff
   see only the bar groups. An unknown station, an unknown card, a card of no
   active waiter: no rows. */
create procedure RESTAURANT_GETPRICEFORMOBILE (
  CARDCODE  varchar(40),
  STATION   varchar(40))
returns (
  Fullname        varchar(100),
  Id              integer,
  IdGroup         integer,
  DefaultQuantity integer,
  PRICE           numeric(15, 2),
  ISINPUTPRICE    smallint,
  EdVolume        varchar(20),
  ISINPUTVOLUME   smallint)
as
  declare variable PriceList integer;
  declare variable WaiterRole char(1);
begin
  select s.IdPriceList from RESTAURANT_STATIONS s
    where s.Code = :STATION
    into :PriceList;
  if (PriceList is null) then exit;

  select first 1 w.Role from RESTAURANT_WAITERS w
    join RESTAURANT_CARDS c on c.id = w.IdCard
    where c.code = :CARDCODE and w.Status >= 0
    into :WaiterRole;
  if (WaiterRole is null) then exit;

  for select m.Fullname, m.Id, m.IdGroup, m.DefaultQuantity, p.PRICE,
             m.ISINPUTPRICE, m.EdVolume, m.ISINPUTVOLUME
        from RESTAURANT_PRICES p
        join RESTAURANT_MENU m on m.Id = p.IdMenu
        left join RESTAURANT_PRICEGROUPS g on g.Id = m.IdGroup
        where p.IdPriceList = :PriceList
          and m.STOPPED = 0
          and (:WaiterRole <> 'B' or g.IsBar = 1)
        order by g.nOrder, m.Id
        into :Fullname, :Id, :IdGroup, :DefaultQuantity, :PRICE,
             :ISINPUTPRICE, :EdVolume, :ISINPUTVOLUME
  do
    suspend;
end^

/* ---- Turning an imported order into the restaurant's own order ----------- */

/* Checks the waiter, the table, the station and every row, then writes the order
   and its rows. A modifier row attaches to the nearest dish row before it. Raises
   the EX_RESTAURANT_ exceptions with a message the waiter can act on; the caller's
   transaction then writes nothing. */
create procedure restaurant_importorders (guid varchar(64))
as
  declare variable CardCode varchar(40);
  declare variable TableNo integer;
  declare variable DeviceId varchar(40);
  declare variable WaiterId integer;
  declare variable StationId integer;
  declare variable PriceList integer;
  declare variable OrderId integer;
  declare variable RowId integer;
  declare variable ParentRow integer;
  declare variable IdPrice integer;
  declare variable Qty integer;
  declare variable Vol integer;
  declare variable IsMod smallint;
  declare variable ItemName varchar(100);
  declare variable ItemStopped smallint;
  declare variable ItemIsMod smallint;
  declare variable ItemPrice numeric(15, 2);
  declare variable RowCount integer;
begin
  select o.WAITERCARDCODE, o.TABLENUMBER, o.DEVICEID
    from Restaurant_ImportedOrders o
    where o.guid = :guid
    into :CardCode, :TableNo, :DeviceId;
  if (row_count = 0) then
    exception EX_RESTAURANT_NO_ORDER 'Заказ ' || :guid || ' не найден среди принятых';

  select first 1 w.id from RESTAURANT_WAITERS w
    join RESTAURANT_CARDS c on c.id = w.IdCard
    where c.code = :CardCode and w.Status >= 0
    into :WaiterId;
  if (WaiterId is null) then
    exception EX_RESTAURANT_NOT_A_WAITER
      'Карта ' || coalesce(:CardCode, '') || ' не принадлежит официанту на смене';

  if (not exists(select 1 from RESTAURANT_TABLES t where t.Number = :TableNo)) then
    exception EX_RESTAURANT_NO_TABLE
      'Стола ' || coalesce(:TableNo, '') || ' нет в зале, проверьте номер стола';

  select s.Id, s.IdPriceList from RESTAURANT_STATIONS s
    where s.Code = :DeviceId
    into :StationId, :PriceList;
  if (StationId is null) then
    exception EX_RESTAURANT_UNKNOWN_STATION
      'Терминал ' || coalesce(:DeviceId, '') || ' не зарегистрирован, обратитесь к администратору';

  OrderId = gen_id(GEN_RESTAURANT_ORDERS, 1);
  insert into RESTAURANT_ORDERS (Id, ImportedGuid, TableNumber, IdWaiter, IdStation)
    values (:OrderId, :guid, :TableNo, :WaiterId, :StationId);

  RowCount = 0;
  for select r.IDPRICE, r.Quantity, r.Volume, r.isModificator
        from Restaurant_ImportedOrderRows r
        where r.guidOrder = :guid
        order by r.id
        into :IdPrice, :Qty, :Vol, :IsMod
  do
  begin
    ItemName = null;
    select m.Fullname, m.STOPPED, m.ISMODIFIER from RESTAURANT_MENU m
      where m.Id = :IdPrice
      into :ItemName, :ItemStopped, :ItemIsMod;
    if (ItemName is null) then
      exception EX_RESTAURANT_UNKNOWN_ITEM
        'Позиции меню с кодом ' || coalesce(:IdPrice, '') || ' нет, обновите меню';
    if (ItemStopped = 1) then
      exception EX_RESTAURANT_STOP_LIST ItemName || ' закончилось (стоп-лист)';

    ItemPrice = null;
    select p.PRICE from RESTAURANT_PRICES p
      where p.IdPriceList = :PriceList and p.IdMenu = :IdPrice
      into :ItemPrice;
    if (ItemPrice is null) then
      exception EX_RESTAURANT_NOT_ON_PRICELIST
        ItemName || ' не продаётся на этом терминале';

    if (coalesce(Qty, 0) <= 0 and coalesce(Vol, 0) <= 0) then
      exception EX_RESTAURANT_NO_QUANTITY 'Не указано количество: ' || ItemName;

    RowId = gen_id(GEN_RESTAURANT_ORDERROWS, 1);
    if (IsMod = 1) then
    begin
      if (ParentRow is null) then
        exception EX_RESTAURANT_MODIFIER_ALONE
          'Модификатор ' || ItemName || ' стоит без блюда';
    end
    else
      ParentRow = RowId;

    insert into RESTAURANT_ORDERROWS (Id, IdOrder, IdMenu, Quantity, Volume, Price, IdParentRow)
      values (:RowId, :OrderId, :IdPrice, coalesce(:Qty, 0), coalesce(:Vol, 0), :ItemPrice,
              case when :IsMod = 1 then :ParentRow else null end);
    RowCount = RowCount + 1;
  end

  update RESTAURANT_ORDERS o
    set o.Total = (select coalesce(sum(r.Price * case when r.Quantity > 0 then r.Quantity else 1 end), 0)
                     from RESTAURANT_ORDERROWS r where r.IdOrder = :OrderId)
    where o.Id = :OrderId;
end^

set term ; ^
commit;

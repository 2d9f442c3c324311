-- Closewright reference schema: every table the period-end close reads or writes.
--
-- One batch of CREATE TABLE and CREATE INDEX statements in plain T-SQL. It runs as it stands on
-- Microsoft SQL Server (sent as one batch, with no GO separators) and on the embedded provider.
--
-- Conventions:
--   * Working (live) tables number their rows with FID INT IDENTITY(1,1). The history steps rely on it:
--     restores leave FID out so the table numbers the rows afresh, or write it under IDENTITY_INSERT.
--   * Each archived table has a twin named <table>_History with the same columns, whose FID is a plain
--     INT written by the archive step.
--   * Quantities, amounts and prices are DECIMAL(28,10); dates are DATETIME; the period key FYearPeriod
--     ('2011.03') is VARCHAR so that '2011.10' stays text and keys compare as strings.
--   * Columns other than the row key are NOT NULL with a default, because the close copies rows by
--     naming only the columns it carries and lets the others take their defaults.

-- Settings of the modules; the operation-cost module keeps its current period under
-- FCategory 'OPCost', FKey 'CurrentYear' / 'CurrentPeriod'.
CREATE TABLE t_SystemProfile (
  FCategory VARCHAR(30) NOT NULL,
  FKey VARCHAR(100) NOT NULL,
  FValue VARCHAR(255) NOT NULL DEFAULT(''),
  FDescription NVARCHAR(255) NOT NULL DEFAULT('')
)
CREATE UNIQUE INDEX UX_t_SystemProfile_Key ON t_SystemProfile (FCategory, FKey)

-- Id counters: the highest internal id handed out per table.
CREATE TABLE ICMaxNum (
  FTableName VARCHAR(100) NOT NULL PRIMARY KEY,
  FMaxNum INT NOT NULL DEFAULT(0)
)

-- Data type catalogue of the database. Deliberately without a key: a code may be listed twice (the row
-- read later wins) and a damaged row may lack its code.
CREATE TABLE t_DataTypeInfo (
  FDataType INT NULL,
  FTypeName VARCHAR(128) NULL,
  FMaxPrecision INT NULL,
  FMinScale INT NULL,
  FMaxScale INT NULL,
  FActualType INT NULL,
  FActualSize INT NULL,
  FBindType INT NULL
)

-- Stored procedures the database offers, one name a row (as entered: not trimmed, not case-folded).
CREATE TABLE t_SupportedProc (
  FProcName VARCHAR(255) NULL
)

-- Production tasks. FStatus 3 = closed (FCloseDate set); FClosed marks a task closed by hand;
-- FCancellation <> 0 = cancelled.
CREATE TABLE ICMO (
  FInterID INT NOT NULL PRIMARY KEY,
  FBillNo VARCHAR(50) NOT NULL DEFAULT(''),
  FTranType INT NOT NULL DEFAULT(85),
  FStatus SMALLINT NOT NULL DEFAULT(0),
  FClosed SMALLINT NOT NULL DEFAULT(0),
  FCancellation SMALLINT NOT NULL DEFAULT(0),
  FItemID INT NOT NULL DEFAULT(0),
  FWorkShop INT NOT NULL DEFAULT(0),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FQtyFinish DECIMAL(28,10) NOT NULL DEFAULT(0),
  FStockQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FCheckDate DATETIME NULL,
  FCloseDate DATETIME NULL
)
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

-- Balances per period, production task, cost centre and cost item. FTypeID: 1 beginning quantities,
-- 2 beginning amount, 3 ending quantities, 4 ending amount. Adjustments refer to rows by FID, so the
-- history steps keep FID when they move rows.
CREATE TABLE OPCostBalance (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FTypeID INT NOT NULL DEFAULT(0),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FBegNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FBegBal DECIMAL(28,10) NOT NULL DEFAULT(0),
  FYearQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FYearNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FYearSum DECIMAL(28,10) NOT NULL DEFAULT(0),
  FYearExp DECIMAL(28,10) NOT NULL DEFAULT(0),
  FEndBal DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOnlnQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0)
)
-- No index on FYearPeriod alone: the close finds the tasks it leaves out with a left join of two subqueries
-- on that key, and with such an index the embedded engine probes one subquery per row of the other
-- (minutes instead of a second at 100,000 tasks). The statements that filter on FYearPeriod scan once.
CREATE INDEX IX_OPCostBalance_Period ON OPCostBalance (FYear, FPeriod, FTypeID)

CREATE TABLE OPCostBalance_History (
  FID INT NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FTypeID INT NOT NULL DEFAULT(0),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FBegNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FBegBal DECIMAL(28,10) NOT NULL DEFAULT(0),
  FYearQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FYearNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FYearSum DECIMAL(28,10) NOT NULL DEFAULT(0),
  FYearExp DECIMAL(28,10) NOT NULL DEFAULT(0),
  FEndBal DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOnlnQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostBalance_History_YearPeriod ON OPCostBalance_History (FYearPeriod)

-- Adjustments of opening balances; FBalanceID is the OPCostBalance.FID adjusted.
CREATE TABLE OPCostBalanceAdjust (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FBalanceID INT NOT NULL DEFAULT(0),
  FAdjQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FAdjAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FNote NVARCHAR(255) NOT NULL DEFAULT('')
)
CREATE INDEX IX_OPCostBalanceAdjust_YearPeriod ON OPCostBalanceAdjust (FYearPeriod)

-- Beginning material details per period (in process and not yet stocked), with the derived unit price.
CREATE TABLE OPCostObjDetail (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FMaterielID INT NOT NULL DEFAULT(0),
  FBatchNo VARCHAR(200) NOT NULL DEFAULT(''),
  FPrice DECIMAL(28,10) NOT NULL DEFAULT(0),
  FBegUnInQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FBegUnOutQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FUsedAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FSumInQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FSumInAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostObjDetail_Period ON OPCostObjDetail (FYear, FPeriod)
CREATE INDEX IX_OPCostObjDetail_YearPeriod ON OPCostObjDetail (FYearPeriod)

CREATE TABLE OPCostObjDetail_History (
  FID INT NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FMaterielID INT NOT NULL DEFAULT(0),
  FBatchNo VARCHAR(200) NOT NULL DEFAULT(''),
  FPrice DECIMAL(28,10) NOT NULL DEFAULT(0),
  FBegUnInQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FBegUnOutQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FUsedAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FSumInQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FSumInAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostObjDetail_History_YearPeriod ON OPCostObjDetail_History (FYearPeriod)

-- Adjustments of opening material details; FDetailID is the OPCostObjDetail.FID adjusted.
CREATE TABLE OPCostObjDetailAdjust (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FDetailID INT NOT NULL DEFAULT(0),
  FAdjQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FAdjAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FNote NVARCHAR(255) NOT NULL DEFAULT('')
)
CREATE INDEX IX_OPCostObjDetailAdjust_YearPeriod ON OPCostObjDetailAdjust (FYearPeriod)

-- Cost calculation results per task, cost centre and cost item (FOnlineAmount: amount still in process).
CREATE TABLE OPCostCalInfo (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FStandardID INT NOT NULL DEFAULT(0),
  FStdSubID INT NOT NULL DEFAULT(0),
  FStandarddata DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOverAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOnlineAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FRevertAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FRevQuo DECIMAL(28,10) NOT NULL DEFAULT(0),
  FLevel INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostCalInfo_YearPeriod ON OPCostCalInfo (FYearPeriod)

CREATE TABLE OPCostCalInfo_History (
  FID INT NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FStandardID INT NOT NULL DEFAULT(0),
  FStdSubID INT NOT NULL DEFAULT(0),
  FStandarddata DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOverAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOnlineAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FRevertAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FRevQuo DECIMAL(28,10) NOT NULL DEFAULT(0),
  FLevel INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostCalInfo_History_YearPeriod ON OPCostCalInfo_History (FYearPeriod)

-- Material cost calculation results (quantities and amounts still in process or not yet stocked).
CREATE TABLE OPCostCalInfoDetail (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FMaterielID INT NOT NULL DEFAULT(0),
  FBatchNo VARCHAR(200) NOT NULL DEFAULT(''),
  FSpendCostObjID INT NOT NULL DEFAULT(0),
  FOverAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOnlineAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOverQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOnlineQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FLevel INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostCalInfoDetail_Period ON OPCostCalInfoDetail (FYear, FPeriod)
CREATE INDEX IX_OPCostCalInfoDetail_YearPeriod ON OPCostCalInfoDetail (FYearPeriod)

CREATE TABLE OPCostCalInfoDetail_History (
  FID INT NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FMaterielID INT NOT NULL DEFAULT(0),
  FBatchNo VARCHAR(200) NOT NULL DEFAULT(''),
  FSpendCostObjID INT NOT NULL DEFAULT(0),
  FOverAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOnlineAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOverQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOnlineQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FLevel INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostCalInfoDetail_History_YearPeriod ON OPCostCalInfoDetail_History (FYearPeriod)

-- Product cost calculation results.
CREATE TABLE OPCostProductCalInfo (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FProductID INT NOT NULL DEFAULT(0),
  FBatchNo VARCHAR(200) NOT NULL DEFAULT(''),
  FStandardQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FPrice DECIMAL(28,10) NOT NULL DEFAULT(0),
  FRevertAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FRevQuo DECIMAL(28,10) NOT NULL DEFAULT(0),
  FLevel INT NOT NULL DEFAULT(0),
  FStandardID INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostProductCalInfo_YearPeriod ON OPCostProductCalInfo (FYearPeriod)

CREATE TABLE OPCostProductCalInfo_History (
  FID INT NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FProductID INT NOT NULL DEFAULT(0),
  FBatchNo VARCHAR(200) NOT NULL DEFAULT(''),
  FStandardQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FPrice DECIMAL(28,10) NOT NULL DEFAULT(0),
  FRevertAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FRevQuo DECIMAL(28,10) NOT NULL DEFAULT(0),
  FLevel INT NOT NULL DEFAULT(0),
  FStandardID INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostProductCalInfo_History_YearPeriod ON OPCostProductCalInfo_History (FYearPeriod)

-- Work-in-process count per task and cost centre.
CREATE TABLE OPCostWIPCheck (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FInputQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOutputQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FWIPQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FISImport SMALLINT NOT NULL DEFAULT(0),
  FScrapQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOutAfterScrQty DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostWIPCheck_YearPeriod ON OPCostWIPCheck (FYearPeriod)

CREATE TABLE OPCostWIPCheck_History (
  FID INT NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FInputQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOutputQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FWIPQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FISImport SMALLINT NOT NULL DEFAULT(0),
  FScrapQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FOutAfterScrQty DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostWIPCheck_History_YearPeriod ON OPCostWIPCheck_History (FYearPeriod)

-- Cost calculation sheet of irreparable scrap.
CREATE TABLE OPCostWNCalInfo (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FCurScrapAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FScrapPrice DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostWNCalInfo_YearPeriod ON OPCostWNCalInfo (FYearPeriod)

CREATE TABLE OPCostWNCalInfo_History (
  FID INT NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FCurScrapAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FScrapPrice DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostWNCalInfo_History_YearPeriod ON OPCostWNCalInfo_History (FYearPeriod)

-- Material cost distribution rows (FInterID, FEntryID: the material bill and its line).
CREATE TABLE OPCostMaterielInfo (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FDeptID INT NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FDisType INT NOT NULL DEFAULT(0),
  FWorkCenterID INT NOT NULL DEFAULT(0),
  FOperID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FInterID INT NOT NULL DEFAULT(0),
  FEntryID INT NOT NULL DEFAULT(0),
  FStdID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FStandarddata DECIMAL(28,10) NOT NULL DEFAULT(0),
  FPrice DECIMAL(28,10) NOT NULL DEFAULT(0),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FAmount DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostMaterielInfo_YearPeriod ON OPCostMaterielInfo (FYearPeriod)

CREATE TABLE OPCostMaterielInfo_History (
  FID INT NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FDeptID INT NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FDisType INT NOT NULL DEFAULT(0),
  FWorkCenterID INT NOT NULL DEFAULT(0),
  FOperID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FInterID INT NOT NULL DEFAULT(0),
  FEntryID INT NOT NULL DEFAULT(0),
  FStdID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FStandarddata DECIMAL(28,10) NOT NULL DEFAULT(0),
  FPrice DECIMAL(28,10) NOT NULL DEFAULT(0),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FAmount DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostMaterielInfo_History_YearPeriod ON OPCostMaterielInfo_History (FYearPeriod)

-- Expense distribution rows (FBillID, FBillIndex: the expense bill and its line).
CREATE TABLE OPCostExpenseDistributeInfo (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FDeptID INT NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FWorkCenterID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FOperID INT NOT NULL DEFAULT(0),
  FExpID INT NOT NULL DEFAULT(0),
  FBillID INT NOT NULL DEFAULT(0),
  FBillIndex INT NOT NULL DEFAULT(0),
  FStdID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FStandarddata DECIMAL(28,10) NOT NULL DEFAULT(0),
  FAmount DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostExpenseDistributeInfo_YearPeriod ON OPCostExpenseDistributeInfo (FYearPeriod)

CREATE TABLE OPCostExpenseDistributeInfo_History (
  FID INT NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FDeptID INT NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FWorkCenterID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FOperID INT NOT NULL DEFAULT(0),
  FExpID INT NOT NULL DEFAULT(0),
  FBillID INT NOT NULL DEFAULT(0),
  FBillIndex INT NOT NULL DEFAULT(0),
  FStdID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FStandarddata DECIMAL(28,10) NOT NULL DEFAULT(0),
  FAmount DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostExpenseDistributeInfo_History_YearPeriod ON OPCostExpenseDistributeInfo_History (FYearPeriod)

-- Cost data of by-products (deputy products) per period, cost item and product.
CREATE TABLE OPCostDeputyInfo (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FCostItemID INT NOT NULL DEFAULT(0),
  FProductID INT NOT NULL DEFAULT(0),
  FAmount DECIMAL(28,10) NOT NULL DEFAULT(0),
  FNote NVARCHAR(255) NOT NULL DEFAULT('')
)
CREATE INDEX IX_OPCostDeputyInfo_YearPeriod ON OPCostDeputyInfo (FYearPeriod)

-- Allocation-standard settings, kept per period and carried into the next one.
CREATE TABLE OPCostRationStandardInfo (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FDeptID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FStandardID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FTraceTypeID INT NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostRationStandardInfo_Period ON OPCostRationStandardInfo (FYear, FPeriod)

CREATE TABLE OPCostTaxonStandardInfo (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FDeptID INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FStandardID INT NOT NULL DEFAULT(0),
  FCostItemID INT NOT NULL DEFAULT(0),
  FProductID INT NOT NULL DEFAULT(0),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostTaxonStandardInfo_Period ON OPCostTaxonStandardInfo (FYear, FPeriod)

CREATE TABLE OPCostStandardSet (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FDeptID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FStandardID INT NOT NULL DEFAULT(0),
  FExpID INT NOT NULL DEFAULT(0),
  FDeptAll SMALLINT NOT NULL DEFAULT(0),
  FTraceType INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostStandardSet_Period ON OPCostStandardSet (FYear, FPeriod)

CREATE TABLE OPCostTaxonSet (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FCostObjID INT NOT NULL DEFAULT(0),
  FStandardID INT NOT NULL DEFAULT(0),
  FDeptAll SMALLINT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostTaxonSet_Period ON OPCostTaxonSet (FYear, FPeriod)

CREATE TABLE OPCostStandardSetOnPro (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FYear INT NOT NULL DEFAULT(0),
  FPeriod INT NOT NULL DEFAULT(0),
  FDeptID INT NOT NULL DEFAULT(0),
  FCostCenterID INT NOT NULL DEFAULT(0),
  FStandardID INT NOT NULL DEFAULT(0),
  FExpID INT NOT NULL DEFAULT(0),
  FDeptAll SMALLINT NOT NULL DEFAULT(0),
  FTraceType INT NOT NULL DEFAULT(0),
  FMaterialAssignID INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostStandardSetOnPro_Period ON OPCostStandardSetOnPro (FYear, FPeriod)

-- Standard data bills. FID is the bill's internal id, drawn from ICMaxNum ('OPCostStandardData'),
-- never generated by the table: the carry-forward writes it explicitly.
CREATE TABLE OPCostStandardData (
  FID INT NOT NULL PRIMARY KEY,
  FClassTypeID INT NOT NULL DEFAULT(0),
  FBillNo VARCHAR(50) NOT NULL DEFAULT(''),
  FStandardID INT NOT NULL DEFAULT(0),
  FStandardNum VARCHAR(80) NOT NULL DEFAULT(''),
  FStandardName NVARCHAR(255) NOT NULL DEFAULT(''),
  FWorkProcStep INT NOT NULL DEFAULT(0),
  FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''),
  FISImport SMALLINT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostStandardData_YearPeriod ON OPCostStandardData (FYearPeriod)

-- Lines of the standard data bills; FID is the bill's id and is shared by all its lines, so the line has
-- a key of its own. Deleting a bill deletes its lines: the bill copy replaces the next period's bills by
-- deleting their headers, and must not leave their lines behind.
CREATE TABLE OPCostStandardDataEntry (
  FDetailID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FID INT NOT NULL REFERENCES OPCostStandardData (FID) ON DELETE CASCADE,
  FIndex INT NOT NULL DEFAULT(0),
  FCostObjNum VARCHAR(80) NOT NULL DEFAULT(''),
  FDeptNum VARCHAR(80) NOT NULL DEFAULT(''),
  FCostCenter VARCHAR(80) NOT NULL DEFAULT(''),
  FCostCenterName NVARCHAR(255) NOT NULL DEFAULT(''),
  FWorkProcNum VARCHAR(80) NOT NULL DEFAULT(''),
  FQty DECIMAL(28,10) NOT NULL DEFAULT(0),
  FICMOInterID INT NOT NULL DEFAULT(0),
  FICMONo VARCHAR(50) NOT NULL DEFAULT(''),
  FOperSN INT NOT NULL DEFAULT(0)
)
CREATE INDEX IX_OPCostStandardDataEntry_FID ON OPCostStandardDataEntry (FID)

-- The close driver's own record of every close and reopen, kept whether the run succeeded or not.
CREATE TABLE t_CloseLog (
  FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FAction VARCHAR(10) NOT NULL,
  FYear INT NOT NULL,
  FPeriod INT NOT NULL,
  FNextYear INT NOT NULL DEFAULT(0),
  FNextPeriod INT NOT NULL DEFAULT(0),
  FUser NVARCHAR(255) NOT NULL DEFAULT(''),
  FStartTime DATETIME NOT NULL,
  FEndTime DATETIME NOT NULL,
  FOutcome VARCHAR(255) NOT NULL,
  FSeconds FLOAT NOT NULL DEFAULT(0),
  FSteps NVARCHAR(4000) NOT NULL DEFAULT(''),
  FError NVARCHAR(4000) NOT NULL DEFAULT('')
)

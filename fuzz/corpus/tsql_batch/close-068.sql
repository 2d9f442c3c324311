 
--期末结账:在产中盘点表表 
DECLARE @MAXFID INT
SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostWIPCheck_History
INSERT INTO OPCostWIPCheck_History(FID,FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FInputQty,FOutputQty,FWIPQty,FNotStockQty,FISImport,FScrapQty,FOutAfterScrQty) 
SELECT FID+@MAXFID,FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FInputQty,FOutputQty,FWIPQty,FNotStockQty,FISImport,FScrapQty,FOutAfterScrQty 
FROM OPCostWIPCheck WHERE FYearPeriod='2011.03' 
TRUNCATE TABLE OPCostWIPCheck 
 

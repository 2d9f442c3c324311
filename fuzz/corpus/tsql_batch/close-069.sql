 
--期末结账:不可修复废品成本计算单表 
DECLARE @MAXFID INT
SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostWNCalInfo_History
INSERT INTO OPCostWNCalInfo_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FAmount,FCurScrapAmount,FScrapPrice) 
SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FAmount,FCurScrapAmount,FScrapPrice 
FROM OPCostWNCalInfo WHERE FYearPeriod='2011.03' 
TRUNCATE TABLE OPCostWNCalInfo 
 

Insert INTO OPCostDeputyInfo(FYear,FPeriod,FYearPeriod,FCostItemID,FProductID,FAmount)
 SELECT 2011,4,'2011.04',FCostItemID,FProductID,FAmount  FROM OPCostDeputyInfo
 WHERE FYearPeriod='2011.03'
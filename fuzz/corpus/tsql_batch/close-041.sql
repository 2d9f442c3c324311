    IF ISNULL(OBJECT_ID('TEMPDB..#OPCostCalinfo'),0)<>0 
 DROP TABLE #OPCostCalinfo

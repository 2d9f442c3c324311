 Delete from OPCostStandardData Where FYearPeriod ='2011.04'
 Insert into OPCostStandardData (FID,FClassTypeID,FBillNo,FStandardNum,FStandardID,FStandardName,FWorkProcStep,FYearPeriod)
 Select 7, FClassTypeID,'1011111-000001',FStandardNum,FStandardID,FStandardName,FWorkProcStep,'2011.04' From OPCostStandardData
 Where FID = 5
 Insert into OPCostStandardDataEntry (FID,FIndex,FCostObjNum,FDeptNum,FCostCenter,FCostCenterName,FWorkProcNum,FQty,FICMOInterID,FICMONo,FOperSN)
 Select 7, t1.FIndex,t1.FCostObjNum,t1.FDeptNum,t1.FCostCenter,t1.FCostCenterName,t1.FWorkProcNum,t1.FQty,t1.FICMOInterID,t1.FICMONo,t1.FOperSN From OPCostStandardDataEntry t1 LEFT JOIN ICMO mo ON t1.FICMOInterID=mo.FInterID AND mo.FStatus=3 AND mo.FCloseDate<'2011-04-01'
 Where t1.FID = 5 AND mo.FInterID is null
 Insert into OPCostStandardData (FID,FClassTypeID,FBillNo,FStandardNum,FStandardID,FStandardName,FWorkProcStep,FYearPeriod)
 Select 8, FClassTypeID,'1011111-000002',FStandardNum,FStandardID,FStandardName,FWorkProcStep,'2011.04' From OPCostStandardData
 Where FID = 6
 Insert into OPCostStandardDataEntry (FID,FIndex,FCostObjNum,FDeptNum,FCostCenter,FCostCenterName,FWorkProcNum,FQty,FICMOInterID,FICMONo,FOperSN)
 Select 8, t1.FIndex,t1.FCostObjNum,t1.FDeptNum,t1.FCostCenter,t1.FCostCenterName,t1.FWorkProcNum,t1.FQty,t1.FICMOInterID,t1.FICMONo,t1.FOperSN From OPCostStandardDataEntry t1 LEFT JOIN ICMO mo ON t1.FICMOInterID=mo.FInterID AND mo.FStatus=3 AND mo.FCloseDate<'2011-04-01'
 Where t1.FID = 6 AND mo.FInterID is null
 Update ICMaxNum set FMaxNum =8 Where FTableName= 'OPCostStandardData'
var Feature_BillboardInterval = 7000;

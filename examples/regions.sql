SELECT region_id, code, name FROM regions ORDER BY region_id

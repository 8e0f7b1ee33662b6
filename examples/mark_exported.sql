-- Runs once per exported record; :sale_id is bound from the record.
UPDATE sales SET exported = 1 WHERE sale_id = :sale_id

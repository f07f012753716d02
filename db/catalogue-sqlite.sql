-- The catalogue TABLES of the ERP database, one row per table or view, on SQLite.
CREATE VIEW TABLES AS
  SELECT name AS TABLE_NAME FROM sqlite_master WHERE type IN ('table', 'view');

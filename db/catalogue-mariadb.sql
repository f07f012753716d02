-- The catalogue TABLES of the ERP database, one row per table or view of the current
-- database, on MariaDB.
CREATE VIEW TABLES AS
  SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE();

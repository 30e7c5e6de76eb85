-- Demo database of `make run` (DSN "demo"). Build it with
--   sqlite3 demo.db < data/demo.sql
-- Try, for example:
--   {"M":"open","P1":"demo"}
--   {"M":"query","P1":"demo","P2":"SELECT * FROM items ORDER BY id","P3":-1}
--   {"M":"query","P1":"demo","P2":"SELECT * FROM items ORDER BY id","P3":3}
--   {"M":"querydbg","P1":"demo","P2":"SELECT * FROM items WHERE note IS NULL"}
--   {"M":"query","P1":"demo","P2":"SELECT word, root FROM numbers ORDER BY n","P3":1000}
--   {"M":"query","P1":"demo","P2":"INSERT INTO visits (who) VALUES ('me')","P3":0}

-- Text, integers and doubles, with a null and an empty text in "note".
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT NOT NULL, price DOUBLE, note TEXT);
INSERT INTO items VALUES (1, 'apple', 0.5, 'red');
INSERT INTO items VALUES (2, 'bread', 2.25, '');
INSERT INTO items VALUES (3, 'cheese', 12.8, NULL);
INSERT INTO items VALUES (4, 'dates', 1234.5, 'dried');
INSERT INTO items VALUES (5, 'eggs', NULL, 'a dozen');

-- The forms a double takes in a "query" reply: fixed precision for the
-- large ones, up to 20 significant digits below 1, huge values whole.
CREATE TABLE measures (label TEXT, value DOUBLE);
INSERT INTO measures VALUES ('one and a half thousand', 1234.5);
INSERT INTO measures VALUES ('negative', -1234.56789);
INSERT INTO measures VALUES ('hundred', 100.0);
INSERT INTO measures VALUES ('pi', 3.14159265358979);
INSERT INTO measures VALUES ('ten to the twenty', 1e20);
INSERT INTO measures VALUES ('minus a half', -0.5);
INSERT INTO measures VALUES ('zero', 0.0);
INSERT INTO measures VALUES ('a tenth', 0.1);
INSERT INTO measures VALUES ('huge', 1e300);

-- A thousand generated rows, for walks that pick one record far down.
CREATE TABLE numbers (n INTEGER PRIMARY KEY, square INTEGER, root DOUBLE, word TEXT);
WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < 1000)
INSERT INTO numbers SELECT n, n * n, sqrt(n), 'n' || n FROM seq;

-- Empty at start: a target for INSERT, UPDATE and DELETE.
CREATE TABLE visits (id INTEGER PRIMARY KEY, who TEXT NOT NULL, at TEXT DEFAULT CURRENT_TIMESTAMP);

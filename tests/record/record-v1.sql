-- A record as version 1 of the schema wrote it: one generator known by its
-- port, two channels set and labelled, a save and a frame after the snapshot
-- of the settings and of the journal's count (settings_through,
-- counted_through), and a setup. Loaded with the sqlite3
-- shell; every later version must read it.
PRAGMA foreign_keys=OFF;
BEGIN TRANSACTION;
CREATE TABLE generators (  id INTEGER PRIMARY KEY,  serial TEXT NOT NULL,  port TEXT NOT NULL,  settings_through INTEGER NOT NULL DEFAULT 0,  journal_count INTEGER NOT NULL DEFAULT 0,  counted_through INTEGER NOT NULL DEFAULT 0,  UNIQUE (serial, port));
INSERT INTO generators VALUES(1,'','/tmp/fixture/gen',2,2,2);
CREATE TABLE journal (  id INTEGER PRIMARY KEY,  generator INTEGER NOT NULL,  time_ms INTEGER NOT NULL,  program TEXT NOT NULL,  client TEXT NOT NULL,  channel INTEGER CHECK (channel BETWEEN 1 AND 16),  delay_steps INTEGER,  width_steps INTEGER,  frame TEXT NOT NULL,  reply TEXT NOT NULL,  outcome TEXT NOT NULL CHECK (outcome = 'ok' OR outcome = 'refused'    OR outcome = 'no reply' OR outcome = 'late' OR outcome = 'lost'));
INSERT INTO journal VALUES(1,1,1796774320339,'kestrane-ctl','ctl',3,91,182,'03091182','OK\r\n','ok');
INSERT INTO journal VALUES(2,1,1796774320340,'kestrane-ctl','ctl',7,0,1,'07000001','OK\r\n','ok');
INSERT INTO journal VALUES(3,1,1796774320341,'kestrane-ctl','ctl',NULL,NULL,NULL,'SAV','OK\r\n','ok');
INSERT INTO journal VALUES(4,1,1796774320342,'kestrane-scpid','socket 127.0.0.1:40652 connection 1',7,5,6,'07005006','ERR\r\n','refused');
CREATE TABLE channels (  generator INTEGER NOT NULL REFERENCES generators (id),  channel INTEGER NOT NULL CHECK (channel BETWEEN 1 AND 16),  label TEXT NOT NULL DEFAULT '',  delay_steps INTEGER,  width_steps INTEGER,  saved_delay_steps INTEGER,  saved_width_steps INTEGER,  PRIMARY KEY (generator, channel)) WITHOUT ROWID;
INSERT INTO channels VALUES(1,3,'pump',91,182,NULL,NULL);
INSERT INTO channels VALUES(1,7,'camera gate',0,1,NULL,NULL);
CREATE TABLE setups (  id INTEGER PRIMARY KEY,  generator INTEGER NOT NULL REFERENCES generators (id),  name TEXT NOT NULL,  stored_ms INTEGER NOT NULL,  UNIQUE (generator, name));
INSERT INTO setups VALUES(1,1,'scan',1796774320445);
CREATE TABLE setup_channels (  setup INTEGER NOT NULL REFERENCES setups (id) ON DELETE CASCADE,  channel INTEGER NOT NULL CHECK (channel BETWEEN 1 AND 16),  delay_steps INTEGER NOT NULL,  width_steps INTEGER NOT NULL,  label TEXT NOT NULL,  PRIMARY KEY (setup, channel)) WITHOUT ROWID;
INSERT INTO setup_channels VALUES(1,3,91,182,'pump');
INSERT INTO setup_channels VALUES(1,7,0,1,'');
COMMIT;
PRAGMA user_version = 1;

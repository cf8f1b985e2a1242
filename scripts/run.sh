#!/usr/bin/env bash
# The run command: installs what is missing, builds the tool, starts the
# local Firebird server if none answers, prepares a demo folder laid out like
# a computer of the suite, and opens the tool's window there. The window keeps
# the terminal until it is closed; a server started here is stopped then.
#
#   bash scripts/run.sh [--no-setup] [--reset-demo]
#
#   --no-setup    do not check the installed packages
#   --reset-demo  recreate the demo database, backup folder and settings file
#
# The demo folder (build/demo/) holds the tool, its Environment.ini and the
# stand-ins for Solvane.exe and SLVServer.exe. The demo database and its
# backup folder lie in /var/tmp/solvane-demo/, where the server (running as
# the user firebird) may write.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

RUN_SETUP=1
RESET=0
while [ $# -gt 0 ]; do
    case $1 in
        --no-setup) RUN_SETUP=0; shift ;;
        --reset-demo) RESET=1; shift ;;
        -h | --help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) slv_die "unknown option $1 (see --help)" ;;
    esac
done

JOBS=${SLV_JOBS:-2}
BUILD=$SLV_ROOT/build
DEMO=$BUILD/demo
DEMO_DATA=${SLV_DEMO_DATA:-/var/tmp/solvane-demo}
DEMO_DB=$DEMO_DATA/Solvane.fdb
DEMO_BACKUP=$DEMO_DATA/backup
SERVER_STATE=$BUILD/fbserver-run.state
WINDOW=SolvaneDBMaint

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    if [ -f "$SERVER_STATE" ]; then
        bash "$SLV_SCRIPTS_DIR/fbserver.sh" stop --state "$SERVER_STATE" || rc=1
    fi
    exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- 1. packages and build --------------------------------------------------
[ $RUN_SETUP -eq 1 ] && bash "$SLV_SCRIPTS_DIR/setup.sh"

slv_log "building in $BUILD"
slv_configure "$BUILD" >/dev/null
# Only what the demo needs; the tests are built by the test command.
cmake --build "$BUILD" -j "$JOBS" --target "$WINDOW" standin_solvane standin_slvserver fbtracemon

# ---- 2. server --------------------------------------------------------------
bash "$SLV_SCRIPTS_DIR/fbserver.sh" start --state "$SERVER_STATE"

# ---- 3. demo database and folders -------------------------------------------
unset ISC_USER ISC_PASSWORD
export LANG=C.UTF-8 LC_ALL=C.UTF-8

open_folder() {
    mkdir -p "$1" 2>/dev/null || slv_as_root mkdir -p "$1"
    chmod 0777 "$1" 2>/dev/null || slv_as_root chmod 0777 "$1"
}

if [ $RESET -eq 1 ] && [ -e "$DEMO_DB" ]; then
    slv_log "removing the demo database $DEMO_DB"
    rm -f "$DEMO_DB" 2>/dev/null || slv_as_root rm -f "$DEMO_DB"
fi
open_folder "$DEMO_DATA"
open_folder "$DEMO_BACKUP"

if [ ! -e "$DEMO_DB" ]; then
    slv_log "creating the demo database $SLV_FB_HOST:$DEMO_DB"
    script=$(mktemp /tmp/slv-demo-XXXXXX.sql)
    cat >"$script" <<SQL
SET SQL DIALECT 3;
CREATE DATABASE '$SLV_FB_HOST:$DEMO_DB' USER '$SLV_FB_USER' PASSWORD '$SLV_FB_PASSWORD'
  PAGE_SIZE 4096 DEFAULT CHARACTER SET UTF8;
CREATE GENERATOR GEN_CUSTOMER_ID;
CREATE TABLE CUSTOMER (
  ID INTEGER NOT NULL PRIMARY KEY,
  NAME VARCHAR(60) NOT NULL,
  CITY VARCHAR(40),
  PHONE VARCHAR(20));
CREATE TABLE SALES (
  ID INTEGER NOT NULL PRIMARY KEY,
  CUSTOMER_ID INTEGER NOT NULL REFERENCES CUSTOMER (ID),
  SOLD_ON DATE NOT NULL,
  ITEM VARCHAR(60) NOT NULL,
  AMOUNT NUMERIC(12,2) NOT NULL);
CREATE INDEX IDX_SALES_DATE ON SALES (SOLD_ON);
CREATE TABLE SETTING (
  NAME VARCHAR(40) NOT NULL PRIMARY KEY,
  VAL VARCHAR(200));
CREATE VIEW CUSTOMER_SALES (CUSTOMER_ID, NAME, TOTAL) AS
  SELECT C.ID, C.NAME, COALESCE(SUM(S.AMOUNT), 0)
  FROM CUSTOMER C LEFT JOIN SALES S ON S.CUSTOMER_ID = C.ID
  GROUP BY C.ID, C.NAME;
INSERT INTO CUSTOMER VALUES (NEXT VALUE FOR GEN_CUSTOMER_ID, '김민준', '서울', '02-123-4567');
INSERT INTO CUSTOMER VALUES (NEXT VALUE FOR GEN_CUSTOMER_ID, '이서연', '부산', '051-987-6543');
INSERT INTO CUSTOMER VALUES (NEXT VALUE FOR GEN_CUSTOMER_ID, '박지훈', '대구', NULL);
INSERT INTO CUSTOMER VALUES (NEXT VALUE FOR GEN_CUSTOMER_ID, '최수아', '인천', '032-555-0101');
INSERT INTO SETTING VALUES ('회사명', '솔바네 주식회사');
INSERT INTO SETTING VALUES ('백업주기', '매일 18:00');
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE I INTEGER = 1;
BEGIN
  WHILE (I <= 20000) DO
  BEGIN
    INSERT INTO SALES VALUES (:I, MOD(:I, 4) + 1,
      DATEADD(MOD(:I, 730) DAY TO DATE '2023-01-01'),
      DECODE(MOD(:I, 3), 0, '사무용 의자', 1, '복사 용지 (A4)', '프린터 토너'),
      MOD(:I * 37, 100000) * 0.1);
    I = I + 1;
  END
END^
SET TERM ; ^
COMMIT;
SQL
    if ! out=$(isql-fb -q -b -ch UTF8 -i "$script" 2>&1); then
        rm -f "$script"
        slv_die "could not create the demo database: $out"
    fi
    rm -f "$script"
fi

# ---- 4. the demo folder -----------------------------------------------------
mkdir -p "$DEMO"
# Replace rather than overwrite: a stand-in may still run from here.
place() {
    local from=$1 name=$2
    [ -f "$from" ] || return 1
    cp -f "$from" "$DEMO/.$name.new"
    mv -f "$DEMO/.$name.new" "$DEMO/$name"
}
find_built() { find "$BUILD" -path "$DEMO" -prune -o -type f -name "$1" -perm -u+x -print -quit; }

place "$(find_built Solvane.exe)" Solvane.exe || slv_log "the stand-in Solvane.exe is not built; the demo runs without it"
place "$(find_built SLVServer.exe)" SLVServer.exe || slv_log "the stand-in SLVServer.exe is not built; the demo runs without it"
place "$(find_built fbtracemon)" fbtracemon || true

INI_NOTE="written now"
if [ $RESET -eq 1 ] || [ ! -f "$DEMO/Environment.ini" ]; then
    slv_log "writing $DEMO/Environment.ini"
    printf '[SYSTEM]\r\nDBSvrIP=%s\r\nDBPathDB=%s\r\nSvrIP=%s\r\n\r\n[SYSSETUP]\r\nDBBackPOS=%s/\r\n' \
        "$SLV_FB_HOST" "$DEMO_DB" "$SLV_FB_HOST" "$DEMO_BACKUP" >"$DEMO/Environment.ini"
else
    INI_NOTE="kept from an earlier run; --reset-demo writes it anew"
fi

cat >&2 <<EOF

Demo set-up:
  tool folder     $DEMO
  settings        $DEMO/Environment.ini ($INI_NOTE):
$(sed -e 's/\r$//' -e 's/^/                    /' "$DEMO/Environment.ini")
  demo database   $SLV_FB_HOST:$DEMO_DB
  backup folder   $DEMO_BACKUP/
  server          $(bash "$SLV_SCRIPTS_DIR/fbserver.sh" status --state "$SERVER_STATE" 2>&1 || true)

EOF

# ---- 5. the window ----------------------------------------------------------
window_exe=$(find_built "$WINDOW")
if [ -n "$window_exe" ]; then
    place "$window_exe" "$WINDOW"
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display found: neither DISPLAY nor WAYLAND_DISPLAY is set, so the window cannot open." >&2
        echo "Everything is set up; run $DEMO/$WINDOW from a desktop session, or run this command there." >&2
        exit 2
    fi
    slv_log "opening the window; close it to end"
    cd "$DEMO"
    rc=0
    "./$WINDOW" || rc=$?
    exit $rc
fi

slv_die "the window ($WINDOW) was not built"

#!/usr/bin/env bash
# The Linux side of the Windows build's end-to-end tests (CTest fixture):
#   prepare  makes the folder with the Korean name, the database the tests
#            back up ("원본.fdb") and the one that the make-server test
#            replaces ("서버.fdb"), through the real server;
#   compare  after the tests: the databases that the Windows window restored
#            must hold exactly what the original holds.
# The folder is $SLV_TEST_DATA/windows-e2e (as the tests compute it).
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"

ROOT=${SLV_TEST_DATA:-/var/tmp/slv-test}/windows-e2e
DATA="$ROOT/한글 자료"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset ISC_USER ISC_PASSWORD

create_database() { # path rows
    local script
    script=$(mktemp /tmp/slv-e2e-XXXXXX.sql)
    cat >"$script" <<SQL
SET SQL DIALECT 3;
CREATE DATABASE '$SLV_FB_HOST:$1' USER '$SLV_FB_USER' PASSWORD '$SLV_FB_PASSWORD'
  PAGE_SIZE 4096 DEFAULT CHARACTER SET UTF8;
CREATE GENERATOR GEN_ORDER;
CREATE TABLE CUSTOMER (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(60), CITY VARCHAR(40));
CREATE TABLE ORDERS (ID INTEGER NOT NULL PRIMARY KEY, CUSTOMER_ID INTEGER REFERENCES CUSTOMER,
  ORDERED_ON DATE, AMOUNT NUMERIC(12,2), NOTE VARCHAR(100));
CREATE TABLE MEMO (ID INTEGER NOT NULL PRIMARY KEY, BODY BLOB SUB_TYPE TEXT, RATE DOUBLE PRECISION);
CREATE INDEX IDX_ORDERS_DATE ON ORDERS (ORDERED_ON);
COMMIT;
INSERT INTO CUSTOMER VALUES (1, '김민준', '서울');
INSERT INTO CUSTOMER VALUES (2, '이서연', '부산');
INSERT INTO CUSTOMER VALUES (3, 'Solvane Ltd.', NULL);
INSERT INTO MEMO VALUES (1, '매일 저녁 데이터베이스를 백업하세요.', 0.125);
SET TERM ^ ;
EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN
  WHILE (I <= $2) DO BEGIN
    INSERT INTO ORDERS VALUES (:I, MOD(:I, 3) + 1, DATEADD(:I DAY TO DATE '2020-01-01'),
      :I * 0.01, '주문 ' || :I);
    I = I + 1;
  END
END^
SET TERM ; ^
SET GENERATOR GEN_ORDER TO $2;
COMMIT;
SQL
    isql-fb -q -b -ch UTF8 -user "$SLV_FB_USER" -password "$SLV_FB_PASSWORD" -i "$script"
    local rc=$?
    rm -f "$script"
    return $rc
}

# Row counts and a hash sum of every row of every table, and the generator.
fingerprint() { # path
    local script
    script=$(mktemp /tmp/slv-e2e-XXXXXX.sql)
    cat >"$script" <<'SQL'
SET HEADING OFF;
SELECT 'CUSTOMER ' || COUNT(*) || ' ' || SUM(MOD(HASH(ID || '|' || COALESCE(NAME, '-') || '|' || COALESCE(CITY, '-')), 1000000007)) FROM CUSTOMER;
SELECT 'ORDERS ' || COUNT(*) || ' ' || SUM(MOD(HASH(ID || '|' || CUSTOMER_ID || '|' || ORDERED_ON || '|' || AMOUNT || '|' || NOTE), 1000000007)) FROM ORDERS;
SELECT 'MEMO ' || COUNT(*) || ' ' || SUM(MOD(HASH(ID || '|' || CAST(BODY AS VARCHAR(200)) || '|' || RATE), 1000000007)) FROM MEMO;
SELECT 'GEN_ORDER ' || GEN_ID(GEN_ORDER, 0) FROM RDB$DATABASE;
SQL
    isql-fb -q -b -ch UTF8 -user "$SLV_FB_USER" -password "$SLV_FB_PASSWORD" -i "$script" \
        "$SLV_FB_HOST:$1" 2>&1 | sed '/^[[:space:]]*$/d'
    rm -f "$script"
}

case ${1:-} in
    prepare)
        rm -rf "$ROOT"
        mkdir -p "$DATA/백업1" "$DATA/백업2" "$DATA/백업3" "$ROOT/tool"
        # The server runs as its own user and writes here.
        chmod 0777 "$ROOT" "$DATA" "$DATA"/백업*
        create_database "$DATA/원본.fdb" 3000 || exit 1
        create_database "$DATA/서버.fdb" 10 || exit 1
        echo "prepared $DATA"
        ;;
    compare)
        original=$(fingerprint "$DATA/원본.fdb")
        echo "original:"
        echo "$original"
        rc=0
        [ -n "$original" ] && echo "$original" | grep -q '^ORDERS 3000 ' || {
            echo "the original database cannot be read" >&2
            exit 1
        }
        for restored in "원본복원.fdb" "서버.fdb"; do
            if [ ! -f "$DATA/$restored" ]; then
                echo "missing: $DATA/$restored (the test that makes it failed)" >&2
                rc=1
            elif [ "$(fingerprint "$DATA/$restored")" != "$original" ]; then
                echo "$restored differs from the original:" >&2
                fingerprint "$DATA/$restored" >&2
                rc=1
            else
                echo "$restored holds the same as the original"
            fi
        done
        # Make-server set the database it replaced aside, as it was.
        if [ ! -f "$DATA/서버~.fdb" ]; then
            echo "the make-server test left no aside copy 서버~.fdb" >&2
            rc=1
        elif ! fingerprint "$DATA/서버~.fdb" | grep -q '^ORDERS 10 '; then
            echo "서버~.fdb is not the database make-server replaced:" >&2
            fingerprint "$DATA/서버~.fdb" >&2
            rc=1
        else
            echo "서버~.fdb holds the replaced database"
        fi
        # No run may leave a work file behind.
        leftover=$(find "$ROOT" -name '*.part')
        [ -z "$leftover" ] || { echo "work files left over: $leftover" >&2; rc=1; }
        [ $rc -eq 0 ] && rm -rf "$ROOT"
        exit $rc
        ;;
    *) echo "usage: end_to_end.sh prepare|compare" >&2; exit 2 ;;
esac

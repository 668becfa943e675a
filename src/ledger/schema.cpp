#include "schema.hpp"

namespace veld {

namespace {

// Results are kept as their report lines; the columns beside each line
// are what is searched. A name on a server is found by name_key, the
// digests of both, and a command by its digest, with and without its
// port: a URI or a name may be 65535 bytes, more than an index holds, and
// a claim need not keep what the result's line holds. tallies, modules, names and clashes follow the
// results, kept by a trigger whoever adds them, so that status reads a
// few rows whatever the size of the lot.
const char step_1[] = R"sql(
CREATE FUNCTION portless(command text) RETURNS text LANGUAGE sql IMMUTABLE
    AS $$ SELECT regexp_replace(command, ' -p [0-9]+ ', ' -p * ') $$;
CREATE TABLE ledger_settings (lease_seconds integer NOT NULL DEFAULT 30 CHECK (lease_seconds > 0));
INSERT INTO ledger_settings DEFAULT VALUES;
CREATE TABLE lots (
    lot text PRIMARY KEY,
    created timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE manifest (
    lot text NOT NULL REFERENCES lots,
    imei text NOT NULL,
    cells jsonb NOT NULL,
    line integer NOT NULL,
    PRIMARY KEY (lot, imei)
);
CREATE TABLE results (
    object text PRIMARY KEY,
    seq bigint GENERATED ALWAYS AS IDENTITY,
    lot text NOT NULL REFERENCES lots,
    imei text,
    imsi text,
    station text NOT NULL,
    run text,
    endpoint text,
    server_uri text,
    command_key text,
    portless_key text,
    result text NOT NULL,
    started timestamptz NOT NULL,
    line text NOT NULL,
    synced timestamptz NOT NULL DEFAULT now(),
    name_key text GENERATED ALWAYS AS (md5(server_uri) || md5(endpoint)) STORED
);
CREATE INDEX results_in_order ON results (lot, seq);
CREATE INDEX results_by_module ON results (lot, imei, imsi) WHERE result = 'configured';
CREATE INDEX results_by_name ON results (name_key) WHERE result = 'configured';
CREATE INDEX results_by_moment ON results (lot, station, started);
CREATE TABLE tallies (
    lot text NOT NULL,
    station text NOT NULL,
    result text NOT NULL,
    results bigint NOT NULL,
    PRIMARY KEY (lot, station, result)
);
CREATE TABLE modules (
    lot text NOT NULL,
    imei text NOT NULL,
    imsi text NOT NULL,
    configured bigint NOT NULL,
    PRIMARY KEY (lot, imei, imsi)
);
CREATE INDEX modules_twice ON modules (lot) WHERE configured > 1;
CREATE TABLE names (
    name_key text PRIMARY KEY,
    imei text,
    imsi text,
    lot text NOT NULL,
    station text NOT NULL,
    object text  -- null while a claim holds it
);
CREATE TABLE clashes (object text PRIMARY KEY REFERENCES results);
-- A module's claim in a lot: the one key that decides which run
-- configures it. finished names the result that ended it.
CREATE TABLE claims (
    lot text NOT NULL REFERENCES lots,
    imei text NOT NULL,
    imsi text NOT NULL,
    station text NOT NULL,
    run text NOT NULL,
    command_key text,
    portless_key text,
    claimed_by name NOT NULL DEFAULT session_user,
    claimed timestamptz NOT NULL DEFAULT now(),
    lease_until timestamptz NOT NULL,
    finished text,
    PRIMARY KEY (lot, imei, imsi)
);
CREATE INDEX claims_open ON claims (lot) WHERE finished IS NULL;
CREATE INDEX claims_of_run ON claims (run) WHERE finished IS NULL;
-- The runs that claim, as their heartbeat last showed them.
CREATE TABLE runs (
    run text PRIMARY KEY,
    station text NOT NULL,
    lot text NOT NULL,
    claimed_by name NOT NULL DEFAULT session_user,
    seen timestamptz NOT NULL DEFAULT now()
);
-- Claims given back by hand: who gave back whose, and when.
CREATE TABLE releases (
    lot text NOT NULL,
    imei text NOT NULL,
    imsi text NOT NULL,
    station text NOT NULL,
    run text NOT NULL,
    claimed timestamptz NOT NULL,
    released_by name NOT NULL DEFAULT session_user,
    released timestamptz NOT NULL DEFAULT now()
);

CREATE FUNCTION results_kept() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    RAISE EXCEPTION 'results are kept as they came: none is changed or deleted';
END $$;
CREATE TRIGGER results_kept BEFORE UPDATE OR DELETE OR TRUNCATE ON results
    FOR EACH STATEMENT EXECUTE FUNCTION results_kept();

CREATE FUNCTION results_added() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER AS $$
BEGIN
    INSERT INTO tallies AS t (lot, station, result, results)
        SELECT lot, station, result, count(*) FROM added GROUP BY lot, station, result
        ON CONFLICT (lot, station, result) DO UPDATE SET results = t.results + excluded.results;
    INSERT INTO modules AS m (lot, imei, imsi, configured)
        SELECT lot, imei, imsi, count(*) FROM added
        WHERE result = 'configured' AND imei IS NOT NULL AND imsi IS NOT NULL GROUP BY lot, imei, imsi
        ON CONFLICT (lot, imei, imsi) DO UPDATE SET configured = m.configured + excluded.configured;
    INSERT INTO names (name_key, imei, imsi, lot, station, object)
        SELECT DISTINCT ON (name_key) name_key, imei, imsi, lot, station, object FROM added
        WHERE result = 'configured' AND endpoint IS NOT NULL AND server_uri IS NOT NULL
        ORDER BY name_key, seq
        ON CONFLICT DO NOTHING;
    UPDATE names n SET object = a.object FROM added a
        WHERE n.name_key = a.name_key AND n.object IS NULL AND a.result = 'configured'
          AND n.imei = a.imei AND n.imsi = a.imsi;
    INSERT INTO clashes (object)
        SELECT a.object FROM added a JOIN names n USING (name_key)
        WHERE a.result = 'configured' AND (a.imei, a.imsi) IS DISTINCT FROM (n.imei, n.imsi);
    -- A result ends its run's claim; a module configured with no claim
    -- (a report synced from a station without one) holds one from then.
    UPDATE claims c SET finished = a.object FROM added a
        WHERE c.lot = a.lot AND c.imei = a.imei AND c.imsi = a.imsi AND c.run = a.run AND c.finished IS NULL;
    INSERT INTO claims (lot, imei, imsi, station, run, command_key, portless_key, lease_until, finished)
        SELECT DISTINCT ON (lot, imei, imsi) lot, imei, imsi, station, coalesce(run, ''), command_key, portless_key,
               now(), object
        FROM added WHERE result = 'configured' AND imei IS NOT NULL AND imsi IS NOT NULL
        ORDER BY lot, imei, imsi, seq
        ON CONFLICT DO NOTHING;
    RETURN NULL;
END $$;
ALTER FUNCTION results_added() SET search_path FROM CURRENT;
CREATE TRIGGER results_added AFTER INSERT ON results REFERENCING NEW TABLE AS added
    FOR EACH STATEMENT EXECUTE FUNCTION results_added();

-- A module's claim for a run, decided by the claims' key: claimed, or why
-- not (configured, other command, busy, unfinished, name taken), with
-- who, since when, and what else (the command the module has, or the
-- name's holder). A module whose claim ended in a failure is claimed
-- anew. The endpoint name is reserved in the same transaction, unique
-- on its server URI across the ledger. A command with no fixed port is
-- compared with the port left out.
CREATE FUNCTION claim_module(p_lot text, p_imei text, p_imsi text, p_station text, p_run text, p_command text,
                             p_port_fixed boolean, p_server_uri text, p_endpoint text,
                             OUT outcome text, OUT who text, OUT since text, OUT other text)
LANGUAGE plpgsql SECURITY DEFINER AS $$
DECLARE
    lease interval := (SELECT lease_seconds FROM ledger_settings LIMIT 1) * interval '1 second';
    c claims%ROWTYPE;
    r results%ROWTYPE;
    n names%ROWTYPE;
BEGIN
    INSERT INTO claims (lot, imei, imsi, station, run, command_key, portless_key, lease_until)
        VALUES (p_lot, p_imei, p_imsi, p_station, p_run, md5(p_command), md5(portless(p_command)), now() + lease)
        ON CONFLICT DO NOTHING;
    IF NOT FOUND THEN
        SELECT * INTO c FROM claims WHERE lot = p_lot AND imei = p_imei AND imsi = p_imsi FOR UPDATE;
        IF c.finished IS NULL AND c.run <> p_run THEN
            outcome := CASE WHEN c.lease_until > now() THEN 'busy' ELSE 'unfinished' END;
            who := c.station;
            since := to_char(c.claimed AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"');
            RETURN;
        END IF;
        SELECT * INTO r FROM results WHERE object = c.finished;
        IF c.finished IS NOT NULL AND r.result = 'configured' THEN
            who := r.station;
            since := to_char(r.started AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"');
            outcome := CASE WHEN c.command_key = md5(p_command) OR
                                 (NOT p_port_fixed AND c.portless_key = md5(portless(p_command)))
                            THEN 'configured' ELSE 'other command' END;
            IF outcome = 'other command' THEN
                other := r.line::json ->> 'command';
            END IF;
            RETURN;
        END IF;
        UPDATE claims SET station = p_station, run = p_run, command_key = md5(p_command),
                          portless_key = md5(portless(p_command)), claimed_by = session_user,
                          claimed = now(), lease_until = now() + lease, finished = NULL
            WHERE lot = p_lot AND imei = p_imei AND imsi = p_imsi;
    END IF;
    IF p_endpoint IS NOT NULL AND p_server_uri IS NOT NULL THEN
        INSERT INTO names (name_key, imei, imsi, lot, station)
            VALUES (md5(p_server_uri) || md5(p_endpoint), p_imei, p_imsi, p_lot, p_station) ON CONFLICT DO NOTHING;
        SELECT * INTO n FROM names WHERE name_key = md5(p_server_uri) || md5(p_endpoint);
        IF n.imei IS DISTINCT FROM p_imei OR n.imsi IS DISTINCT FROM p_imsi THEN
            RAISE EXCEPTION USING ERRCODE = 'VL001', MESSAGE = n.imei || ' (lot ' || n.lot || ', ' || n.station || ')';
        END IF;
    END IF;
    outcome := 'claimed';
EXCEPTION WHEN SQLSTATE 'VL001' THEN
    outcome := 'name taken';
    other := SQLERRM;
END $$;
ALTER FUNCTION claim_module(text, text, text, text, text, text, boolean, text, text) SET search_path FROM CURRENT;

-- The run's heartbeat: its claims' leases renewed, on the server's clock,
-- those of the run's own login alone.
CREATE FUNCTION renew_claims(p_run text, p_station text, p_lot text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER AS $$
DECLARE
    lease interval := (SELECT lease_seconds FROM ledger_settings LIMIT 1) * interval '1 second';
BEGIN
    UPDATE claims SET lease_until = now() + lease
        WHERE run = p_run AND finished IS NULL AND claimed_by = session_user;
    INSERT INTO runs AS r (run, station, lot) VALUES (p_run, p_station, p_lot)
        ON CONFLICT (run) DO UPDATE SET seen = now() WHERE r.claimed_by = session_user;
END $$;
ALTER FUNCTION renew_claims(text, text, text) SET search_path FROM CURRENT;
REVOKE EXECUTE ON FUNCTION claim_module(text, text, text, text, text, text, boolean, text, text),
    renew_claims(text, text, text) FROM PUBLIC;

CREATE VIEW lot_progress AS
SELECT t.lot, t.station,
       coalesce(sum(t.results) FILTER (WHERE t.result = 'configured'), 0) AS configured,
       coalesce(sum(t.results) FILTER (WHERE t.result = 'failed'), 0) AS failed,
       coalesce(sum(t.results) FILTER (WHERE t.result = 'interrupted'), 0) AS interrupted,
       (SELECT count(*) FROM results r
        WHERE r.lot = t.lot AND r.station = t.station AND r.result = 'configured'
          AND r.started > now() - interval '1 hour') AS configured_last_hour
FROM tallies t
GROUP BY t.lot, t.station;
)sql";

}  // namespace

const char *schema_step(int n) {
    static const char *const steps[] = {step_1};
    static_assert(sizeof steps / sizeof steps[0] == schema_version, "a step a version");
    return n >= 1 && n <= schema_version ? steps[n - 1] : nullptr;
}

}  // namespace veld

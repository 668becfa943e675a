#include "schema.hpp"

namespace veld {

namespace {

// Results are kept as their report lines; the columns beside each line
// are what is searched. tallies, modules, names and clashes follow the
// results, kept by a trigger whoever adds them, so that status reads a
// few rows whatever the size of the lot.
const char step_1[] = R"sql(
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
    result text NOT NULL,
    started timestamptz NOT NULL,
    line text NOT NULL,
    synced timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX results_in_order ON results (lot, seq);
CREATE INDEX results_by_module ON results (lot, imei, imsi) WHERE result = 'configured';
CREATE INDEX results_by_name ON results (server_uri, endpoint) WHERE result = 'configured';
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
    server_uri text NOT NULL,
    endpoint text NOT NULL,
    imei text,
    imsi text,
    lot text NOT NULL,
    station text NOT NULL,
    object text NOT NULL,
    PRIMARY KEY (server_uri, endpoint)
);
CREATE TABLE clashes (object text PRIMARY KEY REFERENCES results);
CREATE TABLE claims (
    lot text NOT NULL REFERENCES lots,
    imei text NOT NULL,
    imsi text NOT NULL,
    station text NOT NULL,
    run text NOT NULL,
    claimed_by name NOT NULL DEFAULT current_user,
    claimed timestamptz NOT NULL DEFAULT now(),
    lease_until timestamptz NOT NULL,
    finished text,
    PRIMARY KEY (lot, imei, imsi)
);
CREATE INDEX claims_open ON claims (lot) WHERE finished IS NULL;
ALTER TABLE claims ENABLE ROW LEVEL SECURITY;
CREATE POLICY claims_read ON claims FOR SELECT USING (true);
CREATE POLICY claims_made ON claims FOR INSERT WITH CHECK (claimed_by = current_user);
CREATE POLICY claims_renewed ON claims FOR UPDATE USING (claimed_by = current_user);

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
    INSERT INTO names (server_uri, endpoint, imei, imsi, lot, station, object)
        SELECT DISTINCT ON (server_uri, endpoint) server_uri, endpoint, imei, imsi, lot, station, object FROM added
        WHERE result = 'configured' AND endpoint IS NOT NULL AND server_uri IS NOT NULL
        ORDER BY server_uri, endpoint, seq
        ON CONFLICT DO NOTHING;
    INSERT INTO clashes (object)
        SELECT a.object FROM added a JOIN names n USING (server_uri, endpoint)
        WHERE a.result = 'configured' AND (a.imei, a.imsi) IS DISTINCT FROM (n.imei, n.imsi);
    RETURN NULL;
END $$;
ALTER FUNCTION results_added() SET search_path FROM CURRENT;
CREATE TRIGGER results_added AFTER INSERT ON results REFERENCING NEW TABLE AS added
    FOR EACH STATEMENT EXECUTE FUNCTION results_added();

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

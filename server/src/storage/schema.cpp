#include "storage/schema.h"

namespace kv::server {

const std::vector<std::string_view>& SchemaMigrations() {
  static const std::vector<std::string_view> migrations = {
      // 1: accounts, machines, the catalogue and what is installed where.
      R"sql(
CREATE TABLE users (
  id %KEY%,
  email TEXT UNIQUE,
  name TEXT NOT NULL DEFAULT '',
  credential TEXT NOT NULL,
  is_guest INTEGER NOT NULL,
  created_at BIGINT NOT NULL
);
CREATE TABLE machines (
  id %KEY%,
  guid TEXT NOT NULL,
  user_id BIGINT NOT NULL REFERENCES users(id),
  client_build TEXT NOT NULL DEFAULT '',
  last_seen BIGINT NOT NULL,
  UNIQUE (user_id, guid)
);
CREATE TABLE programs (
  id %KEY%,
  match_key TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL,
  publisher TEXT NOT NULL DEFAULT '',
  short_name TEXT NOT NULL UNIQUE,
  publisher_short TEXT NOT NULL DEFAULT '',
  home_page TEXT NOT NULL DEFAULT '',
  stable_version TEXT NOT NULL DEFAULT '',
  beta_version TEXT NOT NULL DEFAULT '',
  created_at BIGINT NOT NULL
);
CREATE TABLE installs (
  machine_id BIGINT NOT NULL REFERENCES machines(id),
  program_id BIGINT NOT NULL REFERENCES programs(id),
  user_id BIGINT NOT NULL REFERENCES users(id),
  version TEXT NOT NULL,
  is_beta INTEGER NOT NULL,
  display_name TEXT NOT NULL DEFAULT '',
  reported_name TEXT NOT NULL DEFAULT '',
  updated_at BIGINT NOT NULL,
  PRIMARY KEY (machine_id, program_id, display_name)
);
CREATE INDEX installs_program ON installs(program_id, version, is_beta, user_id);
CREATE INDEX installs_user ON installs(user_id, program_id);
-- What answers say about a program, kept as installs, comments and
-- ratings change (counting them at every answer is too slow).
CREATE TABLE program_stats (
  program_id BIGINT PRIMARY KEY REFERENCES programs(id),
  users BIGINT NOT NULL,
  comments BIGINT NOT NULL,
  questions BIGINT NOT NULL,
  ratings BIGINT NOT NULL,
  rating_sum BIGINT NOT NULL,
  learned_stable TEXT NOT NULL,
  learned_beta TEXT NOT NULL
);
CREATE TABLE settings (
  name TEXT PRIMARY KEY,
  value TEXT NOT NULL
);
)sql",
      // 2: what users say and send.
      R"sql(
CREATE TABLE comments (
  id %KEY%,
  program_id BIGINT NOT NULL REFERENCES programs(id),
  user_id BIGINT NOT NULL REFERENCES users(id),
  body TEXT NOT NULL,
  created_at BIGINT NOT NULL
);
CREATE INDEX comments_program ON comments(program_id, created_at);
CREATE TABLE ratings (
  user_id BIGINT NOT NULL REFERENCES users(id),
  program_id BIGINT NOT NULL REFERENCES programs(id),
  rating INTEGER NOT NULL,
  PRIMARY KEY (user_id, program_id)
);
CREATE INDEX ratings_program ON ratings(program_id);
CREATE TABLE icons (
  program_id BIGINT PRIMARY KEY REFERENCES programs(id),
  data %BLOB% NOT NULL,
  updated_at BIGINT NOT NULL
);
CREATE TABLE associations (
  machine_id BIGINT PRIMARY KEY REFERENCES machines(id),
  document TEXT NOT NULL,
  received_at BIGINT NOT NULL
);
CREATE TABLE usage_logs (
  id %KEY%,
  machine_id BIGINT NOT NULL REFERENCES machines(id),
  received_at BIGINT NOT NULL,
  data %BLOB% NOT NULL
);
CREATE INDEX usage_logs_machine ON usage_logs(machine_id, id);
CREATE TABLE news (
  id %KEY%,
  date_text TEXT NOT NULL,
  title TEXT NOT NULL,
  url TEXT NOT NULL DEFAULT '',
  posted_at BIGINT NOT NULL
);
CREATE TABLE news_seen (
  machine_id BIGINT NOT NULL REFERENCES machines(id),
  news_id BIGINT NOT NULL REFERENCES news(id),
  PRIMARY KEY (machine_id, news_id)
);
)sql",
      // 3: what the site's forms receive.
      R"sql(
CREATE TABLE bug_reports (
  id %KEY%,
  kind TEXT NOT NULL,
  email TEXT NOT NULL,
  body TEXT NOT NULL,
  peer TEXT NOT NULL,
  received_at BIGINT NOT NULL
);
CREATE TABLE password_reminders (
  id %KEY%,
  email TEXT NOT NULL,
  user_id BIGINT REFERENCES users(id),
  peer TEXT NOT NULL,
  requested_at BIGINT NOT NULL
);
CREATE INDEX comments_user ON comments(user_id, created_at);
CREATE INDEX programs_publisher ON programs(publisher_short, name);
)sql",
      // 4: rate limits that every service process over the database shares.
      R"sql(
CREATE TABLE attempt_windows (
  kind TEXT NOT NULL,
  address TEXT NOT NULL,
  window_start BIGINT NOT NULL,
  events BIGINT NOT NULL,
  PRIMARY KEY (kind, address)
);
CREATE INDEX attempt_windows_start ON attempt_windows(kind, window_start);
)sql",
  };
  return migrations;
}

}  // namespace kv::server

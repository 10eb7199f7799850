#include "fb/FIBParamBlocks.h"

#include <ibase.h>

#include <cstdint>
#include <cstring>

#include "fb/fib.h"
#include "runtime/Format.h"
#include "runtime/StringList.h"
#include "runtime/Text.h"

namespace {

// DPB parameter names; a name's code is its position counting from 1.
const char* const kDPBNames[] = {
    "cdd_pathname",
    "allocation",
    "journal",
    "page_size",
    "num_buffers",
    "buffer_length",
    "debug",
    "garbage_collect",
    "verify",
    "sweep",
    "enable_journal",
    "disable_journal",
    "dbkey_scope",
    "number_of_users",
    "trace",
    "no_garbage_collect",
    "damaged",
    "license",
    "sys_user_name",
    "encrypt_key",
    "activate_shadow",
    "sweep_interval",
    "delete_shadow",
    "force_write",
    "begin_log",
    "quit_log",
    "no_reserve",
    "user_name",
    "password",
    "password_enc",
    "sys_user_name_enc",
    "interp",
    "online_dump",
    "old_file_size",
    "old_num_files",
    "old_file",
    "old_start_page",
    "old_start_seqno",
    "old_start_file",
    "drop_walfile",
    "old_dump_id",
    "wal_backup_dir",
    "wal_chkptlen",
    "wal_numbufs",
    "wal_bufsize",
    "wal_grp_cmt_wait",
    "lc_messages",
    "lc_ctype",
    "cache_manager",
    "shutdown",
    "online",
    "shutdown_delay",
    "reserved",
    "overwrite",
    "sec_attach",
    "disable_wal",
    "connect_timeout",
    "dummy_packet_interval",
    "gbak_attach",
    "sql_role_name",
    "set_page_buffers",
    "working_directory",
    "sql_dialect",
    "set_db_readonly",
    "set_db_sql_dialect",
    "gfix_attach",
    "gstat_attach",
    "gbak_ods_version",
    "gbak_ods_minor_version",
    "set_group_commit",
    "gbak_validate",
    "client_interbase_var",
    "admin_option",
    "flush_interval",
    "instance_name",
    "old_overwrite",
    "archive_database",
    "archive_journals",
    "archive_sweep",
    "archive_dumps",
    "archive_recover",
    "recover_until",
    "force",
};
constexpr int kDPBNameCount = sizeof kDPBNames / sizeof kDPBNames[0];
static_assert(kDPBNameCount == 83);

// TPB parameter names; a name's code is its position counting from 1.
const char* const kTPBNames[] = {
    "consistency",  "concurrency",    "shared",           "protected",
    "exclusive",    "wait",           "nowait",           "read",
    "write",        "lock_read",      "lock_write",       "verb_time",
    "commit_time",  "ignore_limbo",   "read_committed",   "autocommit",
    "rec_version",  "no_rec_version", "restart_requests", "no_auto_undo",
    "no_savepoint",
};
constexpr int kTPBNameCount = sizeof kTPBNames / sizeof kTPBNames[0];
static_assert(kTPBNameCount == 21);

// Position (from 1) of name in the table, ASCII case ignored; 0 when absent.
template <size_t N>
int CodeOf(const char* const (&table)[N], const std::string& name) {
  for (size_t i = 0; i < N; ++i)
    if (SameText(table[i], name)) return static_cast<int>(i) + 1;
  return 0;
}

// One length byte can't carry more.
constexpr size_t kMaxParamValue = 255;
// The attach call takes the buffer length as a 16-bit signed count.
constexpr size_t kMaxParamBuffer = 32767;

// A DPB name the client library's header does not define.
constexpr int kDPBInstanceName = 75;

// Calls each(name, value) for every non-empty line, after trimming the line in
// place; the name is lower-cased and loses the prefix.
template <class F>
void ForEachParam(TStringList& lines, std::string_view prefix, F&& each) {
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string line = Trim(lines[i]);
    lines[i] = line;
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    std::string name = LowerCase(line.substr(0, eq));
    std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (name.starts_with(prefix)) name.erase(0, prefix.size());
    each(name, value);
  }
}

// Code, 4 as the length and the value's four bytes, least significant first.
void AppendInt32(std::string& block, int code, uint32_t value) {
  block += static_cast<char>(code);
  block += '\4';
  for (int b = 0; b < 4; ++b) block += static_cast<char>((value >> (8 * b)) & 0xFF);
}

}  // namespace

std::string FIBBuildDPB(TStringList& lines) {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  ForEachParam(lines, "isc_dpb_", [&](const std::string& name, std::string value) {
    const int code = CodeOf(kDPBNames, name);
    if (code == 0) RaiseClientError(fbceDPBConstantUnknown, {name});
    const char* tableName = kDPBNames[code - 1];
    auto appendText = [&](const std::string& text) {
      if (text.size() > kMaxParamValue)
        RaiseClientErrorText(Format("DPB Constant (isc_dpb_%s) value is longer than %d bytes.",
                                    {tableName, static_cast<int>(kMaxParamValue)}));
      dpb += static_cast<char>(code);
      dpb += static_cast<char>(text.size());
      dpb += text;
    };
    auto appendByte = [&](int byte) {
      dpb += static_cast<char>(code);
      dpb += '\1';
      dpb += static_cast<char>(byte & 0xFF);
    };
    switch (code) {
      case isc_dpb_license:
      case isc_dpb_sys_user_name:
      case isc_dpb_encrypt_key:
      case isc_dpb_user_name:
      case isc_dpb_password:
      case isc_dpb_password_enc:
      case isc_dpb_old_file:
      case isc_dpb_lc_messages:
      case isc_dpb_lc_ctype:
      case isc_dpb_sql_role_name:
      case kDPBInstanceName:
        appendText(value);
        break;
      case isc_dpb_sql_dialect:
        // The dialect travels as the digit's value, not its character.
        if (!value.empty()) value[0] = static_cast<char>(value[0] - '0');
        appendText(value);
        break;
      case isc_dpb_num_buffers:
      case isc_dpb_verify:
      case isc_dpb_dbkey_scope:
      case isc_dpb_damaged:
      case isc_dpb_force_write:
      case isc_dpb_no_reserve:
      case isc_dpb_online_dump:
      case isc_dpb_old_file_size:
      case isc_dpb_overwrite:
      case isc_dpb_connect_timeout:
      case isc_dpb_dummy_packet_interval:
        appendByte(StrToInt(value));
        break;
      case isc_dpb_sweep:
        appendByte(isc_dpb_records);
        break;
      case isc_dpb_sweep_interval:
        AppendInt32(dpb, code, static_cast<uint32_t>(StrToInt(value)));
        break;
      case isc_dpb_garbage_collect:
      case isc_dpb_no_garbage_collect:
      case isc_dpb_activate_shadow:
      case isc_dpb_delete_shadow:
      case isc_dpb_begin_log:
      case isc_dpb_quit_log:
        appendByte(0);
        break;
      default:
        RaiseClientError(fbceDPBConstantNotSupported, {tableName});
    }
  });
  if (dpb.size() > kMaxParamBuffer)
    RaiseClientErrorText(
        Format("DPB is longer than %d bytes.", {static_cast<int>(kMaxParamBuffer)}));
  return dpb;
}

std::string FIBBuildTPB(TStringList& lines) {
  if (lines.Empty()) return std::string();
  std::string tpb(1, static_cast<char>(isc_tpb_version3));
  ForEachParam(lines, "isc_tpb_", [&](const std::string& name, const std::string& value) {
    // Besides the table: how long, in seconds, a "wait" transaction waits for a
    // lock before it fails (the client library's lock_timeout item, which shares
    // its code with the table's last name but carries a 4-byte value).
    if (name == "lock_timeout") {
      int32_t seconds = 0;
      if (!TryStrToInt(value, seconds) || seconds < 1)
        RaiseClientErrorText(
            Format("TPB Constant (isc_tpb_lock_timeout) needs a number of seconds "
                   "from 1 up, not '%s'.",
                   {value}));
      AppendInt32(tpb, isc_tpb_lock_timeout, static_cast<uint32_t>(seconds));
      return;
    }
    const int code = CodeOf(kTPBNames, name);
    if (code == 0) RaiseClientError(fbceTPBConstantUnknown, {name});
    switch (code) {
      case isc_tpb_lock_read:
      case isc_tpb_lock_write:
        if (value.size() > kMaxParamValue)
          RaiseClientErrorText(Format("TPB Constant (isc_tpb_%s) value is longer than %d bytes.",
                                      {kTPBNames[code - 1], static_cast<int>(kMaxParamValue)}));
        tpb += static_cast<char>(code);
        tpb += static_cast<char>(value.size());
        tpb += value;
        break;
      case isc_tpb_verb_time:
      case isc_tpb_commit_time:
      case isc_tpb_autocommit:
      case isc_tpb_restart_requests:
        RaiseClientError(fbceTPBConstantNotSupported, {kTPBNames[code - 1]});
      default:
        tpb += static_cast<char>(code);
    }
  });
  if (tpb.size() > kMaxParamBuffer)
    RaiseClientErrorText(
        Format("TPB is longer than %d bytes.", {static_cast<int>(kMaxParamBuffer)}));
  return tpb;
}

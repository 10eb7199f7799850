/* Entry points of the fake client library that only need to exist. Kept apart
 * from the client header, whose declarations they do not match. */
#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

#define STUB(name) \
  EXPORT long name(void) { return 0; }

STUB(BLOB_get)
STUB(BLOB_put)
STUB(isc_blob_info)
STUB(isc_open_blob2)
STUB(isc_close_blob)
STUB(isc_get_segment)
STUB(isc_put_segment)
STUB(isc_create_blob2)
STUB(isc_decode_date)
STUB(isc_encode_date)
STUB(isc_dsql_set_cursor_name)
STUB(isc_dsql_exec_immed2)
STUB(isc_drop_database)
STUB(isc_cancel_events)
STUB(isc_que_events)
STUB(isc_event_counts)
STUB(isc_event_block)
STUB(isc_free)
STUB(isc_array_lookup_bounds)
STUB(isc_array_get_slice)
STUB(isc_array_put_slice)
STUB(isc_wait_for_event)
STUB(isc_transaction_info)
STUB(isc_prepare_transaction)
STUB(isc_prepare_transaction2)
STUB(isc_service_attach)
STUB(isc_service_detach)
STUB(isc_service_query)
STUB(isc_service_start)
STUB(isc_decode_sql_date)
STUB(isc_decode_sql_time)
STUB(isc_decode_timestamp)
STUB(isc_encode_sql_date)
STUB(isc_encode_sql_time)
STUB(isc_encode_timestamp)
STUB(isc_portable_integer)

/* Answered by the scripted client library (ScriptedClient.c) there. */
#ifndef FAKE_SCRIPTED_STATEMENTS
STUB(fb_cancel_operation)
STUB(isc_dsql_free_statement)
STUB(isc_dsql_execute2)
STUB(isc_dsql_execute)
STUB(isc_dsql_fetch)
STUB(isc_dsql_sql_info)
STUB(isc_dsql_alloc_statement2)
STUB(isc_dsql_prepare)
STUB(isc_dsql_describe_bind)
STUB(isc_dsql_describe)
STUB(isc_dsql_execute_immediate)
STUB(isc_commit_retaining)
#endif

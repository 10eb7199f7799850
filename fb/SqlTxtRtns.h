// Reading SQL text before it reaches the server: the kind of a statement, a quick
// test for parameter markers, and the scanner that finds ":name" references and
// builds the text the server receives, with "?" and blanks in their place.
// Pure functions of the text; only ScanParams raises (EFIBClientError, message 51).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The kind of a statement, from its first word(s).
enum TStatementKind {
  skSelect,     // SELECT, MERGE
  skUpdate,     // UPDATE
  skDelete,     // DELETE
  skInsert,     // INSERT
  skProcedure,  // EXECUTE PROCEDURE
  skBlock,      // EXECUTE BLOCK
  skDDL,        // ALTER, CREATE, COMMENT, DECLARE, DROP, GRANT, REVOKE, RECREATE,
                // SET GENERATOR, and other words beginning with "S"
  skOther
};

// One parameter reference found in a text.
struct TParamRef {
  std::string Name;         // as written (the text between quotes for a quoted name)
  int MarkerPos = 0;        // 1-based position of the ":" or "?"
  int EndPos = 0;           // 1-based position of the name's last character
  bool InWhere = false;     // inside a WHERE clause
  bool CanRewrite = false;  // in WHERE and not followed by an arithmetic operator
  bool Quoted = false;      // written as :"name"
};

enum TScanMode {
  smCaller,  // references only
  smServer   // references and the server text
};

struct TScanResult {
  std::vector<TParamRef> Params;
  // In server mode: the text with each reference replaced by "?" and as many
  // blanks as its name had characters, so it keeps the text's length.
  std::string ServerText;
};

TStatementKind StatementKindOf(std::string_view text);

// False when the text certainly holds no parameter reference: no ":", "?" or "@"
// outside strings, quoted identifiers and comments.
bool HasParamMarker(std::string_view text);

// Finds the parameter references of text in text order. A failure raises
// EFIBClientError "SQL Parse Error in :<ownerName> \r\n\r\n<reason>".
TScanResult ScanParams(std::string_view text, TStatementKind kind, TScanMode mode,
                       const std::string& ownerName);

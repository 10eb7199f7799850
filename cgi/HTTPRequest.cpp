#include "cgi/HTTPRequest.h"

#include "platform/Platform.h"

TWebRequest::TWebRequest() : FStartTime(platform::SteadyMilliseconds()) {}
TWebRequest::~TWebRequest() = default;

void TWebRequest::LogFailure(const std::string& message) {
  // Logging must never turn an answer into another failure.
  try {
    const std::string command = FLogCommand.empty() ? PathInfo() : FLogCommand;
    WriteFailureLine(command, FailureLogText(RemoteAddr(), FLogGuid, message));
  } catch (...) {
  }
}

void TWebRequest::WriteFailureLine(const std::string& command, const std::string& text) {
  platform::WriteLogLine(command, text);
}

std::string FailureLogText(std::string_view remoteAddr, std::string_view guid,
                           std::string_view message) {
  std::string text = "failure from ";
  text += remoteAddr.empty() ? std::string_view("-") : remoteAddr;
  if (!guid.empty()) text.append(" order ").append(guid);
  text += ": ";
  // The message's lines joined by blanks: a client-library error's first line
  // names only the component ("DorvanaWebInterface.Database:"), the reason
  // follows. Bounded, since a message may echo the request's own bytes.
  constexpr size_t kMaxMessage = 1000;
  bool gap = false;
  size_t kept = 0;
  for (const char c : message) {
    if (c == '\r' || c == '\n') {
      gap = kept > 0;
      continue;
    }
    if (kept == kMaxMessage) {
      text += "...";
      break;
    }
    if (gap && c != ' ') text += ' ';
    gap = false;
    text += c;
    ++kept;
  }
  return text;
}

const TFieldList& TWebRequest::QueryFieldList() {
  if (!FQueryFields) {
    FQueryFields = std::make_unique<TFieldList>();
    ExtractHTTPFields("&", "", QueryString(), *FQueryFields);
  }
  return *FQueryFields;
}

const TFieldList& TWebRequest::ContentFieldList() {
  if (!FContentFields) {
    FContentFields = std::make_unique<TFieldList>();
    int32_t length = ContentLength();
    if (length > 0) {
      const std::string& content = ContentBytes();
      if (static_cast<int64_t>(content.size()) < length) {
        // The body is read at construction, so what is missing never arrives;
        // the copy is made only for that case.
        std::string text = content + ReadContent(length - static_cast<int32_t>(content.size()));
        ExtractHTTPFields("&", "", text, *FContentFields);
      } else {
        ExtractHTTPFields("&", "", content, *FContentFields);
      }
    }
  }
  return *FContentFields;
}

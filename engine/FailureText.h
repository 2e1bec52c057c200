// Why a request failed, in words for the status memo: the request-done code
// of the client or the socket, and the status line of a refused page.
#pragma once

#include <cstdint>
#include <string>

// The reason for a request-done code in German ("Verbindung abgelehnt" for
// 10061); empty for 0 and for codes without a known reason.
std::string DoneErrorReason(std::uint16_t code);

// The memo line of a request that ended with a code other than 0:
// "HTTP Fehler: 10061 (Verbindung abgelehnt)", or without the parenthesis
// when the code has no reason.
std::string HttpErrorLine(std::uint16_t code);

// " (404 Not Found)" for a request that completed with a status of 400 or
// more; the server's reason phrase is cut short and control characters
// become blanks, since it is the peer's text. Empty for transport failures
// (their code has its own line) and for statuses below 400.
std::string StatusReasonSuffix(std::uint16_t doneError, int statusCode, const std::string& statusText);

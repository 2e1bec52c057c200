// TSslWSocket: TWSocket with an optional TLS layer on the connected stream.
//
// StartTls turns a connected socket into a TLS client session. From then on
// the socket's events keep their meaning for the layer above, only on the
// plain text: OnDataAvailable means decrypted bytes can be read, Receive
// returns them, Send encrypts, OnSessionClosed reports the end. The
// handshake runs on the same readiness notices as everything else: each
// step that needs bytes from the peer returns to the dispatcher and resumes
// on the next notice, so nothing blocks and nothing spins. OnTlsDone reports
// the end of the handshake.
//
// Nothing of the TLS library shows here: the rest of the program sees only
// this class, TTlsConfig and TTlsFailure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/WSocket.h"

// What the program trusts. Verification (chain against the system's trust
// store plus CaFile, and the server's name or address) is on unless
// NoCheckCertificate says otherwise.
struct TTlsConfig {
    std::string CaFile;  // extra trusted CA certificates (PEM); empty: none
    bool NoCheckCertificate = false;
};

// Why a secure session failed; also the Error value OnTlsDone reports.
enum class TTlsFailure : uint16_t {
    None = 0,
    Handshake = 1,     // no TLS peer, no common version or cipher, peer closed or broke off
    Untrusted = 2,     // chain does not end at a trusted CA (self-signed, unknown issuer ...)
    Expired = 3,       // certificate expired or not yet valid
    HostMismatch = 4,  // certificate is for another host name or address
    Stream = 5,        // the established session broke (bad record, protocol error)
};

class TSslWSocket : public TWSocket {
public:
    using TTlsDone = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;

    TSslWSocket();
    ~TSslWSocket() override;

    // Begins the TLS handshake on the connected stream, as a client of
    // ServerName (a host name, sent for name indication, or a dotted
    // address) whose origin port is OriginPort. Sessions are kept per server
    // name, port and configuration and offered again on the next StartTls
    // for the same server; while the first handshake to a server is under
    // way on this thread, others to it wait for its session. OnTlsDone
    // follows, from the dispatch.
    void StartTls(const std::string& ServerName, const std::string& OriginPort, const TTlsConfig& Config);
    // TLS was started on the current session (handshake running or done).
    bool TlsActive() const;
    bool TlsEstablished() const;
    // The handshake resumed a kept session.
    bool TlsSessionReused() const { return fReused; }
    // The peer ended the stream with its close_notify (not merely a TCP close).
    bool TlsCloseNotify() const { return fCloseNotify; }
    // Failure of the last TLS session and a text naming the reason; kept
    // after the close until the next StartTls.
    TTlsFailure TlsFailure() const { return fFailure; }
    const std::string& TlsFailureText() const { return fFailureText; }

    TTlsDone OnTlsDone;

    // TLS connection objects alive in the process (leak checks).
    static int TlsObjectsAlive();
    // Forgets every kept session (tests of resumption).
    static void ClearTlsSessions();

    int Send(const void* Data, int Len) override;
    void Close() override;
    // Records that carry no data (a session ticket) do not count; plain
    // text, a close_notify or a broken record do.
    bool ReadableNow() override;

protected:
    void ResetDefaults() override;
    int DoRecv(void* Buffer, int BufferSize, int Flags) override;
    int BufferedCount() const override;
    bool TriggerDataAvailable(uint16_t Error) override;
    void TriggerDataSent(uint16_t Error) override;

private:
    struct TTls;

    void DriveHandshake();
    bool OfferSession();
    void EndFirstHandshake();
    void LeaveFirstHandshake();
    void ResumeHandshake();
    void Fail(TTlsFailure Kind, const std::string& Text);
    void FlushOut();
    void ReleaseTls();
    void PostPeerEnded();

    std::unique_ptr<TTls> fTls;
    TTlsFailure fFailure = TTlsFailure::None;
    std::string fFailureText;
    bool fReused = false;
    bool fCloseNotify = false;
};

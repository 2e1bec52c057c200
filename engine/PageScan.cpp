// The page scan, from the typed address to the summary line. Pages are
// fetched breadth first, tokenised, and their links followed or listed as
// pictures.
#include "engine/PictureJobs.h"

// system
#include <deque>
#include <functional>
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// ours
#include "engine/FailureText.h"
#include "engine/DownloadRun.h"
#include "engine/FetchAhead.h"
#include "engine/LinkSplit.h"
#include "engine/ModernMarkup.h"
#include "engine/PageAddress.h"
#include "engine/PageEncoding.h"
#include "engine/StreamLines.h"
#include "html/HTMLPars.h"
#include "base/AsciiCase.h"
#include "http/HttpStream.h"

namespace {

// A page above this size is refused by its stream and fails like any other
// request, so one hostile page cannot exhaust memory (it is held three times:
// bytes, lines, nodes).
constexpr std::size_t kMaxPageBytes = 16u << 20;
// Stylesheets are read whole for their url(...) references; real ones stay
// far below this.
constexpr std::size_t kMaxStyleBytes = 4u << 20;
// Generated themes chain their stylesheets (a Sphinx page's theme imports
// three more before the one with the pictures); each is read once anyway.
constexpr int kMaxImportDepth = 6;
// Real stylesheets import a handful of others; more are left unread, so the
// stylesheets waiting stay proportional to those read.
constexpr std::size_t kMaxImportsPerStyle = 64;

constexpr std::string_view PageExtensions[] = {
    ".HTM", ".HTML", ".CGI", ".PL", ".PHP", ".PHP3", ".SHTML", ".SHTM", ".PHTML", ".PHTM", ".DHTML", ".DHTM", ".ASP"};

bool StartsWith(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool IsPageExtension(std::string_view upperExt)
{
    if (upperExt.empty())
        return true;
    for (std::string_view p : PageExtensions)
        if (StartsWith(upperExt, p))
            return true;
    return false;
}

// People type addresses without a scheme; resolved as a bare path, every
// relative link of the first page would fail. The server's relocation takes
// the scan on to https where a site wants it.
std::string StartAddress(std::string typed)
{
    // A pasted address often brings blanks or a line break along.
    const auto first = typed.find_first_not_of(" \t\r\n");
    typed.erase(0, first == std::string::npos ? typed.size() : first);
    while (!typed.empty() && (typed.back() == ' ' || typed.back() == '\t' || typed.back() == '\r' ||
                              typed.back() == '\n'))
        typed.pop_back();
    if (typed.find("://") != std::string::npos)
        return typed;
    return (typed.rfind("//", 0) == 0 ? "http:" : "http://") + typed;
}

// A stylesheet to read: the origin of the page it belongs to, its level
// (that of its page; an import one deeper than what imports it) and how
// many imports lead to it.
struct TStyle {
    std::string Address;
    std::string Origin;
    std::uint32_t Level = 0;
    int ImportDepth = 0;
};

class TPageScan {
public:
    TPageScan(TPictureJobs& jobs, TPictureJobs::TAheadHold& ahead, std::string typed)
        : Jobs(jobs), Ahead(ahead), Typed(std::move(typed))
    {
    }

    void Run();

    // When the downloads follow: each address the found list took, and a
    // call whenever a client may be free for a picture fetched ahead.
    std::function<void(const std::string&)> Listed;
    std::function<void()> Refill;

private:
    struct TQueued {
        std::string Address;
        std::uint32_t Level;  // links from the start page
        std::string Key;      // AddressKey of Address
    };
    // Every address is queued once: a page fetched, failed or waiting is
    // never queued again under the same formed address.
    void Enqueue(std::string address);
    // Fetches address into stream; returns the address that answered
    // (another one after a relocation), formed as links are. Throws like Get.
    std::string Fetch(const std::string& address, TMemoryStream& stream);
    // The same for queue entry j; with several requests in flight the next
    // queued pages go out meanwhile, and the answer is taken in queue order.
    std::string FetchQueued(std::size_t j, std::unique_ptr<TMemoryStream>& stream);
    void FetchAheadFrom(std::size_t from);
    std::string Answer(const std::string& location, const std::string& contentType, const std::string& address);
    // Notes the status of a failed request of the pool and raises as Get does.
    [[noreturn]] void Refused(const TFetchAhead::TResult& r);
    // The memo line of a failed page or stylesheet, with the status that
    // refused it; clears what Refused noted.
    std::string ErrorLine();

    void ReadFileTypes();
    TPageLink Resolve(std::string_view raw) const { return ResolvePageLink(raw, AllowedDirs[0]); }
    void ExamineTag(const THTMLTag& tag);
    void MetaRule(const THTMLTag& tag);
    void PageLink(std::string_view raw);
    void FollowLink(const TPageLink& link);
    // Whether links of the page at hand may still be queued (the depth limit).
    bool MayFollow(const TPageLink& link);
    void AddImage(const std::string& address);
    bool IsImageLink(std::string_view raw) const;
    // Resolves raw against dir and lists it when it names a picture.
    void AddIfImage(std::string_view raw, std::string_view dir);
    void AddIfImage(std::string_view raw)
    {
        if (!InThumbnailLink)
            AddIfImage(raw, AllowedDirs[0]);
    }
    // The optional rules for today's markup.
    void ModernRules(const THTMLTag& tag);
    void NoteStylesheet(const THTMLTag& tag);
    // Reads the stylesheets waiting, as far as the bounds allow; next is the
    // queue position of the next page.
    void ReadStylesheets(std::size_t next);
    bool MayReadStylesheet(std::size_t next) const;
    void ReadStylesheet(const TStyle& style);
    void SetPageDir(std::string dir);
    bool InAllowedDir(const std::string& linkDir) const;

    // The list view hears about a page's pictures once, when the page is
    // done (or before a question, so the window shows them while it asks).
    void BeginPage();
    void EndPage();

    TPictureJobs& Jobs;
    TPictureJobs::TAheadHold& Ahead;
    std::string Typed;
    // "Moderne Bildangaben auswerten", read when the scan starts.
    bool Modern = false;
    // Between <picture> and </picture>: only there a SOURCE names pictures.
    bool InPicture = false;
    TThumbnailLinks Thumbnails;
    bool InThumbnailLink = false;
    bool PageBatch = false;
    THTMLParser Parser;
    // Addresses live once, in the queue (a deque, so they never move); the
    // index holds views of their keys: one page however it is escaped.
    std::deque<TQueued> PageQueue;
    std::unordered_set<std::string_view> Queued;
    // Keys of addresses that answered for another one (relocations): fetched
    // already when their own turn in the queue comes.
    std::unordered_set<std::string> Answered;
    // The Content-Type of the last answer: the page's encoding may be there.
    std::string AnswerType;
    std::size_t VisitedCount = 0;
    std::uint32_t PageLevel = 0;
    bool LevelStopped = false;
    // Scheme, host and port of the page at hand: stylesheets of other hosts
    // are not fetched.
    std::string PageOrigin;
    // Stylesheets found and not read yet, in reading order (an import comes
    // right after what imports it).
    std::deque<TStyle> PendingStyles;
    std::unordered_set<std::string> StylesSeen;
    // Stylesheet requests made; they count against the page limit.
    std::size_t StyleFetches = 0;
    // Imports beyond kMaxImportsPerStyle, never read.
    std::size_t StylesDropped = 0;
    // Entry 0 is PageDir, entry 1 the start directory, then agreed ones;
    // AllowedUpper holds the same entries folded for the prefix test.
    std::vector<std::string> AllowedDirs{std::string()};
    std::vector<std::string> AllowedUpper{std::string()};
    std::unordered_set<std::string> DeclinedDirs;
    std::unordered_set<std::string> ImageExtensions;  // "." + type, upper case
    std::int32_t ImageCount = 0;
    // The answers "Ja, alle" and "Nein, keine" of the follow question.
    bool FollowAll = false;
    bool DeclineAll = false;
    // The page whose links are examined, named in the follow question.
    std::string PageAt;
    // " (404 Not Found)" when the last request failed by its status.
    std::string FailStatus;
};

void TPageScan::Enqueue(std::string address)
{
    std::string key = AddressKey(address);
    if (Queued.count(key) != 0 || Answered.count(key) != 0)
        return;
    PageQueue.push_back({std::move(address), PageLevel + 1, std::move(key)});
    Queued.insert(PageQueue.back().Key);
}

namespace {

// A stream of the caller's, filled by a request of the pool.
class TForwardStream : public TStream {
public:
    explicit TForwardStream(TStream& to) : to_(to) {}
    bool Write(const void* data, std::size_t len) override { return to_.Write(data, len); }
    std::int64_t Size() const override { return to_.Size(); }

private:
    TStream& to_;
};

// The pool key of requests outside the queue (stylesheets).
constexpr std::size_t kOutsideQueue = static_cast<std::size_t>(-1);

}  // namespace

std::string TPageScan::Answer(const std::string& location, const std::string& contentType,
                              const std::string& address)
{
    AnswerType = contentType;
    std::string answered = FormAddress(location);
    return answered.empty() ? address : answered;
}

void TPageScan::Refused(const TFetchAhead::TResult& r)
{
    if (!r.Held)
        throw EHttpException(std::string(), 404);
    FailStatus = StatusReasonSuffix(r.DoneError, r.StatusCode, r.StatusText);
    throw EHttpException(r.StatusText, 404);
}

std::string TPageScan::ErrorLine()
{
    std::string line = "Error..." + FailStatus;
    FailStatus.clear();
    return line;
}

std::string TPageScan::Fetch(const std::string& address, TMemoryStream& stream)
{
    if (Ahead) {
        // The window's client may be busy with a page fetched ahead.
        TFetchAhead& pool = *Ahead;
        TFetchAhead::TRequest request{address, Jobs.Front.Proxy(), std::make_unique<TForwardStream>(stream)};
        pool.WaitIdle();
        pool.Start(kOutsideQueue, request);
        TFetchAhead::TResult r = pool.Take(kOutsideQueue, Refill);
        if (r.Failed || !r.Held)
            Refused(r);
        return Answer(r.Location, r.ContentType, address);
    }
    THttpCli& cli = Jobs.Cli;
    Jobs.WaitTurn(address);
    Jobs.AimRequest(cli, address, &stream);
    try {
        try {
            cli.Get();
        } catch (...) {
            // An answer 429 or 503 leaves no body behind: the same stream takes the retry.
            if (!Jobs.WaitToRetry(cli, address))
                throw;
            Jobs.WaitTurn(address);
            Jobs.AimRequest(cli, address, &stream);
            cli.Get();
        }
    } catch (...) {
        cli.BodyStream = nullptr;
        FailStatus = StatusReasonSuffix(cli.DoneError(), cli.StatusCode(), cli.StatusText());
        throw;
    }
    cli.BodyStream = nullptr;
    return Answer(cli.Location(), cli.ContentType(), address);
}

std::string TPageScan::FetchQueued(std::size_t j, std::unique_ptr<TMemoryStream>& stream)
{
    const std::string& address = PageQueue[j].Address;
    if (!Ahead) {
        stream = std::make_unique<TMemoryStream>(kMaxPageBytes);
        return Fetch(address, *stream);
    }
    TFetchAhead& pool = *Ahead;
    if (!pool.Holds(j)) {
        TFetchAhead::TRequest request{address, Jobs.Front.Proxy(), std::make_unique<TMemoryStream>(kMaxPageBytes)};
        pool.WaitIdle();
        pool.Start(j, request);
    }
    FetchAheadFrom(j + 1);
    TFetchAhead::TResult r = pool.Take(j, Refill);
    if (r.Failed || !r.Held)
        Refused(r);
    stream.reset(static_cast<TMemoryStream*>(r.Body.release()));
    return Answer(r.Location, r.ContentType, address);
}

void TPageScan::FetchAheadFrom(std::size_t from)
{
    TFetchAhead& pool = *Ahead;
    // Every queued address has passed the follow test already (a question is
    // asked before a link is queued), so any of them may go out early. Pages
    // beyond the page limit are not fetched.
    std::size_t end = std::min(PageQueue.size(), from + static_cast<std::size_t>(pool.Connections() - 1));
    if (Jobs.Settings.MaxPages != 0) {
        const std::size_t used = VisitedCount + StyleFetches + 1;
        const std::size_t room = Jobs.Settings.MaxPages > used ? Jobs.Settings.MaxPages - used : 0;
        end = std::min(end, from + room);
    }
    for (std::size_t k = from; k < end && pool.Idle() > 0; ++k) {
        if (pool.Holds(k) || Answered.count(PageQueue[k].Key) != 0)
            continue;
        TFetchAhead::TRequest request{PageQueue[k].Address, Jobs.Front.Proxy(),
                                      std::make_unique<TMemoryStream>(kMaxPageBytes)};
        pool.Start(k, request);
    }
}

void TPageScan::ReadFileTypes()
{
    // Read per page: the type buttons stay usable during a scan.
    ImageExtensions.clear();
    for (const std::string& type : Jobs.Front.FileTypes()) {
        std::string ext(1, '.');
        ext += UpperAscii(type);
        ImageExtensions.insert(std::move(ext));
    }
}

bool TPageScan::IsImageLink(std::string_view raw) const
{
    if (ImageExtensions.count(UpperAscii(FileExtension(raw))) != 0)
        return true;
    // "pic.jpg?v=2" names a picture too; the whole address is tried first so
    // that "thumb.php?file=foto.jpg" stays one.
    if (!Modern)
        return false;
    const std::string_view bare = WithoutQueryAndFragment(raw);
    return bare.size() != raw.size() && ImageExtensions.count(UpperAscii(FileExtension(bare))) != 0;
}

void TPageScan::AddIfImage(std::string_view raw, std::string_view dir)
{
    raw = WithoutFragment(raw);
    if (raw.empty() || !IsImageLink(raw))
        return;
    AddImage(ResolvePageLink(raw, dir).Address);
}

void TPageScan::SetPageDir(std::string dir)
{
    AllowedUpper[0] = UpperAscii(AddressKey(dir));
    AllowedDirs[0] = std::move(dir);
}

bool TPageScan::InAllowedDir(const std::string& linkDir) const
{
    const std::string upper = UpperAscii(AddressKey(linkDir));
    for (std::size_t i = 0; i < AllowedDirs.size(); ++i)
        if (linkDir == AllowedDirs[i] || StartsWith(upper, AllowedUpper[i]))
            return true;
    return false;
}

bool TPageScan::MayFollow(const TPageLink& link)
{
    const std::uint32_t maxLevel = Jobs.Settings.MaxLevel;
    if (maxLevel == 0 || PageLevel < maxLevel)
        return true;
    const std::string key = AddressKey(link.Address);
    if (Queued.count(key) == 0 && Answered.count(key) == 0)
        LevelStopped = true;
    return false;
}

void TPageScan::PageLink(std::string_view raw)
{
    raw = WithoutFragment(raw);
    // A link to the page itself ("#top") or to what the client cannot fetch
    // ("mailto:", "javascript:") leads nowhere.
    if (raw.empty() || HasForeignScheme(raw) || !IsPageExtension(UpperAscii(FileExtension(raw))))
        return;
    const TPageLink link = Resolve(raw);
    if (MayFollow(link))
        FollowLink(link);
}

void TPageScan::FollowLink(const TPageLink& link)
{
    // Decided by the directory of the address the link names, whatever way
    // it was written (relative, root or absolute).
    if (InAllowedDir(link.Dir) || (!Jobs.Settings.NoParent && StartsWith(link.Raw, "../"))) {
        Enqueue(link.Address);
        return;
    }
    // Below the start only: "../" never leads out, and nobody is asked.
    if (Jobs.Settings.NoParent && StartsWith(link.Raw, "../"))
        return;
    const std::string dirKey = AddressKey(link.Dir);
    if (DeclinedDirs.count(dirKey))
        return;
    // A site with dozens of other directories would otherwise ask dozens of
    // times: "Ja, alle" and "Nein, keine" answer the rest of the scan at once.
    bool follow = FollowAll;
    if (!follow && !DeclineAll && !Jobs.Front.AutoMode()) {
        const std::string text = "Soll der Link zu \"" + DisplayAddress(link.Dir) +
                                 "\" weiterverfolgt werden?\n(gefunden auf " + DisplayAddress(PageAt) + ")";
        EndPage();
        const TFollowAnswer answer = Jobs.Front.AskFollow(text);
        BeginPage();
        FollowAll = answer == TFollowAnswer::YesToAll;
        DeclineAll = answer == TFollowAnswer::NoToAll;
        follow = answer == TFollowAnswer::Yes || FollowAll;
    }
    if (follow) {
        AllowedDirs.push_back(link.Dir);
        AllowedUpper.push_back(UpperAscii(dirKey));
        Enqueue(link.Address);
        return;
    }
    DeclinedDirs.insert(dirKey);
}

void TPageScan::AddImage(const std::string& address)
{
    // The found list keeps its own folded index, so this stays O(1) even when
    // the user edits the list during the scan.
    if (!Jobs.Front.FoundAddress(address))
        return;
    if (Listed)
        Listed(address);
    ++ImageCount;
}

void TPageScan::BeginPage()
{
    PageBatch = true;
}

void TPageScan::EndPage()
{
    if (!PageBatch)
        return;
    PageBatch = false;
    Jobs.Front.FoundFlush();
    if (Refill)
        Refill();
}

void TPageScan::MetaRule(const THTMLTag& tag)
{
    bool refresh = false;
    bool hasTarget = false;
    std::string_view target;
    for (const THTMLParam& p : tag.Params()) {
        if (p.Name() == "HTTP-EQUIV") {
            refresh = UpperAscii(p.Value()) == "REFRESH";
        } else if (p.Name() == "CONTENT") {
            const auto pos = UpperAscii(p.Value()).find("URL=");
            if (pos != std::string::npos) {
                target = p.Value().substr(pos + 4);
                hasTarget = true;
            }
        }
    }
    target = WithoutFragment(target);
    // An empty target cannot be resolved; like an empty HREF it is passed
    // over instead of ending the page.
    if (!refresh || !hasTarget || target.empty() || HasForeignScheme(target))
        return;
    const TPageLink link = Resolve(target);
    // Refresh targets stay within the page's own directory; no question.
    if ((link.Dir == AllowedDirs[0] || StartsWith(UpperAscii(AddressKey(link.Dir)), AllowedUpper[0])) &&
        MayFollow(link))
        Enqueue(link.Address);
}

void TPageScan::ExamineTag(const THTMLTag& tag)
{
    const std::string_view name = tag.Name();
    if (Jobs.Settings.Choices.SkipThumbnails) {
        bool pictureHref = false;
        if (name == "A")
            for (const THTMLParam& p : tag.Params())
                pictureHref = pictureHref || (p.Name() == "HREF" && IsImageLink(WithoutFragment(p.Value())));
        Thumbnails.Tag(name, pictureHref);
    }
    // The inline pictures of a link to a picture are its thumbnails.
    InThumbnailLink = Thumbnails.InsidePictureLink() && name != "A" && name != "AREA" && name != "LINK";
    if (name == "META") {
        MetaRule(tag);
    } else if (name == "IMG") {
        for (const THTMLParam& p : tag.Params())
            if (p.Name() == "SRC" || p.Name() == "DEST")
                AddIfImage(p.Value());
    } else if (name == "FRAME") {
        for (const THTMLParam& p : tag.Params())
            if (p.Name() == "SRC" || p.Name() == "DEST")
                PageLink(p.Value());
    } else if (name == "A" || name == "AREA" || name == "LINK") {
        for (const THTMLParam& p : tag.Params()) {
            if (p.Name() != "HREF")
                continue;
            PageLink(p.Value());
            AddIfImage(p.Value());
        }
    }
    if (Modern)
        ModernRules(tag);
}

void TPageScan::ModernRules(const THTMLTag& tag)
{
    const std::string_view name = tag.Name();
    if (name == "PICTURE") {
        InPicture = true;
    } else if (name == "/PICTURE") {
        InPicture = false;
    } else if (name == "IMG") {
        for (const THTMLParam& p : tag.Params()) {
            const std::string_view key = p.Name();
            if (key == "SRCSET" || key == "DATA-SRCSET")
                AddIfImage(LargestSrcsetCandidate(p.Value()));
            else if (key == "DATA-SRC" || key == "DATA-ORIGINAL" || key == "DATA-LAZY-SRC")
                AddIfImage(p.Value());
        }
    } else if (name == "SOURCE" && InPicture) {
        for (const THTMLParam& p : tag.Params())
            if (p.Name() == "SRCSET" || p.Name() == "DATA-SRCSET")
                AddIfImage(LargestSrcsetCandidate(p.Value()));
    } else if (name == "META") {
        bool picture = false;
        std::string_view content;
        for (const THTMLParam& p : tag.Params()) {
            if (p.Name() == "PROPERTY" && UpperAscii(p.Value()) == "OG:IMAGE")
                picture = true;
            else if (p.Name() == "NAME" && UpperAscii(p.Value()) == "TWITTER:IMAGE")
                picture = true;
            else if (p.Name() == "CONTENT")
                content = p.Value();
        }
        if (picture)
            AddIfImage(content);
    } else if (name == "LINK") {
        NoteStylesheet(tag);
    }
    for (const THTMLParam& p : tag.Params())
        if (p.Name() == "STYLE")
            for (std::string_view url : StyleBackgroundUrls(p.Value()))
                AddIfImage(url);
}

// A stylesheet of the page's own host is fetched once per scan, after the
// page's tags, for the pictures it names.
void TPageScan::NoteStylesheet(const THTMLTag& tag)
{
    bool stylesheet = false;
    std::string_view href;
    for (const THTMLParam& p : tag.Params()) {
        if (p.Name() == "REL") {
            // REL is a list of words: "stylesheet", "alternate stylesheet".
            std::string words = " " + UpperAscii(p.Value()) + " ";
            for (char& c : words)
                if (c == '\t' || c == '\n' || c == '\r' || c == '\f')
                    c = ' ';
            stylesheet = words.find(" STYLESHEET ") != std::string::npos;
        } else if (p.Name() == "HREF") {
            href = p.Value();
        }
    }
    href = WithoutFragment(href);
    if (!stylesheet || href.empty() || HasForeignScheme(href))
        return;
    std::string address = Resolve(href).Address;
    if (AddressOrigin(address) != PageOrigin || !StylesSeen.insert(AddressKey(address)).second)
        return;
    PendingStyles.push_back({std::move(address), PageOrigin, PageLevel, 0});
}

// A stylesheet is a request like a page: with a page limit it takes a share
// of it, without one a scan reads no more stylesheets than pages, so that
// stylesheets importing each other cannot make a scan of a few pages send
// thousands of requests.
bool TPageScan::MayReadStylesheet(std::size_t next) const
{
    const std::size_t maxPages = Jobs.Settings.MaxPages;
    if (maxPages == 0)
        return StyleFetches < VisitedCount;
    // The next queued pages keep their share: they may be in flight already,
    // and with one request at a time the same pages must be fetched.
    constexpr std::size_t kKeptForPages = TJobSettings::kMaxConnections - 1;
    std::size_t kept = 0;
    for (std::size_t k = next; k < PageQueue.size() && k < next + kKeptForPages; ++k)
        if (Answered.count(PageQueue[k].Key) == 0)
            ++kept;
    return VisitedCount + StyleFetches + kept < maxPages;
}

void TPageScan::ReadStylesheets(std::size_t next)
{
    while (!PendingStyles.empty() && !Jobs.AbortRequested && MayReadStylesheet(next)) {
        const TStyle style = std::move(PendingStyles.front());
        PendingStyles.pop_front();
        ReadStylesheet(style);
    }
}

// Pictures resolve against the stylesheet's own address. An @import is
// followed a few levels deep only, and not beyond the level bound.
void TPageScan::ReadStylesheet(const TStyle& style)
{
    Jobs.Front.MemoLine(DisplayAddress(style.Address));
    ++StyleFetches;
    std::vector<TStyle> imports;
    try {
        TMemoryStream stream(kMaxStyleBytes);
        const std::string dir = AddressDir(Fetch(style.Address, stream));
        const TStylesheetRefs refs = StylesheetRefs(stream.Data());
        BeginPage();
        for (std::string_view url : refs.Urls)
            if (!HasForeignScheme(url))
                AddIfImage(url, dir);
        EndPage();
        const std::uint32_t maxLevel = Jobs.Settings.MaxLevel;
        const bool levelAllows = maxLevel == 0 || style.Level < maxLevel;
        if (style.ImportDepth < kMaxImportDepth) {
            for (std::string_view url : refs.Imports) {
                url = WithoutFragment(url);
                if (url.empty() || HasForeignScheme(url))
                    continue;
                std::string imported = ResolvePageLink(url, dir).Address;
                std::string importedKey = AddressKey(imported);
                if (AddressOrigin(imported) != style.Origin || StylesSeen.count(importedKey) != 0)
                    continue;
                if (!levelAllows) {
                    LevelStopped = true;
                    continue;
                }
                StylesSeen.insert(std::move(importedKey));
                if (imports.size() == kMaxImportsPerStyle) {
                    ++StylesDropped;
                    continue;
                }
                imports.push_back({std::move(imported), style.Origin, style.Level + 1, style.ImportDepth + 1});
            }
        }
    } catch (...) {
        EndPage();
        Jobs.Front.MemoLine(ErrorLine());
    }
    PendingStyles.insert(PendingStyles.begin(), std::make_move_iterator(imports.begin()),
                         std::make_move_iterator(imports.end()));
}

void TPageScan::Run()
{
    {
        // The start address is formed like every link: its fragment is not
        // fetched, its dot segments are gone.
        const TPageLink start = ResolvePageLink(StartAddress(Typed), AllowedDirs[0]);
        SetPageDir(start.Dir);
        AllowedDirs.push_back(start.Dir);
        AllowedUpper.push_back(UpperAscii(AddressKey(start.Dir)));
        PageQueue.push_back({start.Address, 0, AddressKey(start.Address)});
        Queued.insert(PageQueue.back().Key);
    }
    Jobs.AbortRequested = false;
    ImageCount = 0;
    Modern = Jobs.Front.ModernMarkup();
    Parser.Modern = Modern;
    const std::size_t maxPages = Jobs.Settings.MaxPages;

    std::size_t j = 0;
    for (; j < PageQueue.size() && !Jobs.AbortRequested; ++j) {
        if (maxPages != 0 && VisitedCount + StyleFetches >= maxPages)
            break;
        const std::string& address = PageQueue[j].Address;
        if (Answered.count(PageQueue[j].Key) != 0) {
            if (Ahead)
                Ahead->Drop(j);
            continue;
        }
        PageLevel = PageQueue[j].Level;
        if (!Jobs.RobotsAllow(address))
            continue;
        Jobs.Front.ScanProgress({VisitedCount, PageQueue.size() - j - 1, ImageCount, DisplayAddress(address)});
        Jobs.Front.MemoLine(DisplayAddress(address));
        FailStatus.clear();
        try {
            Parser.Lines.Clear();
            Parser.Nodes.Clear();
            ReadFileTypes();
            {
                std::unique_ptr<TMemoryStream> stream;
                const std::string answered = FetchQueued(j, stream);
                // Links resolve against the address that answered: after a
                // relocation the page lives there, and so does the start
                // directory when the start page moved.
                SetPageDir(AddressDir(answered));
                if (answered != address) {
                    Answered.insert(AddressKey(answered));
                    if (j == 0) {
                        AllowedDirs[1] = AllowedDirs[0];
                        AllowedUpper[1] = AllowedUpper[0];
                    }
                }
                PageOrigin = AddressOrigin(answered);
                PageAt = answered;
                ++VisitedCount;
                // Links are read in UTF-8 whatever the page is written in.
                std::string text;
                if (PageTextToUtf8(AnswerType, stream->Data(), text))
                    StreamToLines(Parser.Lines, text);
                else
                    StreamToLines(Parser.Lines, stream->Data());
            }
            Parser.Execute();
            InPicture = false;
            Thumbnails.Reset();
            BeginPage();
            for (const THTMLNode* node : Parser.Nodes)
                if (const THTMLTag* tag = node->AsTag())
                    ExamineTag(*tag);
            EndPage();
        } catch (...) {
            EndPage();
            // Whatever failed, the page ends here and the scan goes on.
            Jobs.Front.MemoLine(ErrorLine());
        }
        // Outside the page's guard: a stylesheet that fails is its own error.
        ReadStylesheets(j + 1);
    }
    // Pages passed over at the end of the queue (a relocation answered them
    // already) gave the stylesheets waiting no turn.
    if (j == PageQueue.size())
        ReadStylesheets(j);

    std::size_t left = 0;
    for (; j < PageQueue.size(); ++j)
        if (Answered.count(PageQueue[j].Key) == 0)
            ++left;
    const std::size_t waiting = PendingStyles.size();
    const std::size_t styles = waiting + StylesDropped;
    const std::string stylesText = std::to_string(styles) + (styles == 1 ? " Stylesheet" : " Stylesheets");
    if (!Jobs.AbortRequested && maxPages != 0 && (left > 0 || waiting > 0)) {
        const std::string pagesText = std::to_string(left) + " weitere Seiten";
        const std::string what = left == 0     ? stylesText
                                 : styles == 0 ? pagesText
                                               : pagesText + " und " + stylesText;
        Jobs.Front.MemoLine("Seitenlimit " + std::to_string(maxPages) + " erreicht: " + what + " nicht geholt.");
    } else if (!Jobs.AbortRequested) {
        if (LevelStopped)
            Jobs.Front.MemoLine("Linktiefe " + std::to_string(Jobs.Settings.MaxLevel) + " erreicht: weitere Links nicht verfolgt.");
        if (styles > 0)
            Jobs.Front.MemoLine((waiting > 0 ? "Nicht mehr Stylesheets als Seiten: " : "Zu viele Importe: ") + stylesText +
                          " nicht geholt.");
    }
    Jobs.AbortRequested = false;
    Jobs.Front.MemoLine("Done! (" + std::to_string(VisitedCount) + " html files and " + std::to_string(ImageCount) +
                  " image files found...)...");
}

}  // namespace

void TPictureJobs::Scan(const std::string& typedAddress)
{
    RobotsRules_.clear();
    TAheadHold ahead(*this, Settings.Connections > 1 && !Settings.Choices.NeedsOwnRequests());
    TPageScan scan(*this, ahead, typedAddress);
    scan.Run();
}

void TPictureJobs::ScanAndDownload(const std::string& typedAddress, const std::vector<std::string>& listed,
                                   const std::function<std::vector<std::string>()>& toDownload)
{
    RobotsRules_.clear();
    const bool inFlight = Settings.Connections > 1 && !Settings.Choices.NeedsOwnRequests();
    std::vector<std::string> planned = listed;
    // Far above any page queue: the pictures' keys in the pool the scan shares.
    constexpr std::size_t kPictureKeys = std::size_t{1} << 40;
    TDownloadRun early(*this, planned, kPictureKeys);
    dlnames::TTargetFolder folder(Settings.FileWays);
    std::vector<std::string> work;
    {
        TAheadHold ahead(*this, inFlight);
        TPageScan scan(*this, ahead, typedAddress);
        if (ahead && early.PrepareAhead(folder)) {
            TFetchAhead& pool = *ahead;
            scan.Listed = [&planned](const std::string& address) { planned.push_back(address); };
            scan.Refill = [&early, &pool, &folder] { early.Prefetch(pool, folder); };
        }
        scan.Run();
        scan.Listed = nullptr;
        scan.Refill = nullptr;
        work = toDownload();
        if (work.empty())
            return;
        if (ahead) {
            // The pictures fetched so far are taken over at their turn; an
            // entry whose address differs is fetched anew.
            TDownloadRun run(*this, work, kPictureKeys);
            run.Run(&folder, ahead.get());
            return;
        }
    }
    Download(work);
}

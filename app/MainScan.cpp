// The page scan: GoBtnClick, from the click to the summary line. Pages are
// fetched breadth first through HttpCli1, tokenised, and their links followed
// or listed as images.
#include "app/MainUnit.h"

// system
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// ours
#include "app/FetchAhead.h"
#include "app/LinkSplit.h"
#include "app/ModernMarkup.h"
#include "app/StreamLines.h"
#include "html/HTMLPars.h"
#include "base/AsciiCase.h"
#include "http/HttpStream.h"

namespace {

// A page above this size is refused by its stream and fails like any other
// request, so one hostile page cannot exhaust memory (it is held three times:
// bytes, lines, nodes).
constexpr std::size_t kMaxPageBytes = 16u << 20;

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
std::string StartAddress(const std::string& typed)
{
    if (typed.find("://") != std::string::npos)
        return typed;
    return (typed.rfind("//", 0) == 0 ? "http:" : "http://") + typed;
}

struct TResolved {
    std::string LinkDir;
    std::string LinkFile;
    std::string Address() const { return LinkDir + LinkFile; }
};

// Clears AbortRequested, frees the scan's parser and puts the window back
// however the scan is left.
class TScanWindowGuard {
public:
    explicit TScanWindowGuard(TMainForm& f) : f_(f) {}
    ~TScanWindowGuard()
    {
        f_.HtmlParser = nullptr;
        f_.SetIdleState();
    }
    TScanWindowGuard(const TScanWindowGuard&) = delete;
    TScanWindowGuard& operator=(const TScanWindowGuard&) = delete;

private:
    TMainForm& f_;
};

class TPageScan {
public:
    TPageScan(TMainForm& form, TMainForm::TAheadHold& ahead) : F(form), Ahead(&ahead) {}

    void Run();

private:
    // Fetches the page at queue position j into a stream: the window's
    // client, or the pool that meanwhile fetches the next queued pages.
    // Raises as Get does.
    std::unique_ptr<TMemoryStream> Fetch(std::size_t j, const std::string& address);
    void FetchAheadFrom(std::size_t from);

    // Queue and visited list. Addresses live once, in the queue (a deque, so
    // they never move); the visited index holds views of them.
    void Enqueue(std::string address);
    bool Visited(const std::string& address) const { return VisitedIndex.count(address) != 0; }

    void ReadFileTypes();
    TResolved Resolve(std::string_view raw) const;
    void ExamineTag(const THTMLTag& tag);
    void MetaRule(const THTMLTag& tag);
    void FollowLink(const TResolved& link, std::string_view raw);
    void AddImage(std::string_view raw);
    bool IsImageLink(std::string_view raw) const;
    // The optional rules for today's markup.
    void ModernRules(const THTMLTag& tag);
    void AddIfImage(std::string_view raw);
    void SetPageDir(std::string dir);
    bool InAllowedDir(const std::string& linkDir) const;

    // The list view hears about a page's pictures once, when the page is
    // done (or before a question, so the window shows them while it asks).
    void BeginPage();
    void EndPage();

    TMainForm& F;
    TMainForm::TAheadHold* Ahead = nullptr;
    // "Moderne Bildangaben auswerten", read when the scan starts.
    bool Modern = false;
    // Between <picture> and </picture>: only there a SOURCE names pictures.
    bool InPicture = false;
    bool PageBatch = false;
    bool PageAdded = false;
    THTMLParser Parser;
    std::deque<std::string> PageQueue;
    std::unordered_set<std::string_view> VisitedIndex;
    std::size_t VisitedCount = 0;
    // Entry 0 is PageDir, entry 1 the start directory, then agreed ones;
    // AllowedUpper holds the same entries folded for the prefix test.
    std::vector<std::string> AllowedDirs{std::string()};
    std::vector<std::string> AllowedUpper{std::string()};
    std::vector<std::string> DeclinedDirs;
    std::unordered_set<std::string> DeclinedIndex;
    std::unordered_set<std::string> ImageExtensions;  // "." + type, upper case
    std::int32_t ImageCount = 0;
};

void TPageScan::Enqueue(std::string address)
{
    // An address already fetched would be skipped when its turn came, without
    // any trace; not queueing it keeps the queue from growing with every link
    // back to a visited page.
    if (Visited(address))
        return;
    PageQueue.push_back(std::move(address));
}

std::unique_ptr<TMemoryStream> TPageScan::Fetch(std::size_t j, const std::string& address)
{
    auto stream = std::make_unique<TMemoryStream>(kMaxPageBytes);
    if (Ahead == nullptr || !*Ahead) {
        THttpCli& cli = F.HttpCli1;
        cli.URL = address;
        cli.Proxy = F.ProxyEdit->Text();
        cli.ProxyPort = "80";
        cli.BodyStream = stream.get();
        try {
            cli.Get();
        } catch (...) {
            cli.BodyStream = nullptr;
            throw;
        }
        cli.BodyStream = nullptr;
        return stream;
    }
    TFetchAhead& pool = **Ahead;
    if (!pool.Holds(j)) {
        TFetchAhead::TRequest request{address, F.ProxyEdit->Text(), std::move(stream)};
        pool.WaitIdle();
        pool.Start(j, request);
    }
    FetchAheadFrom(j + 1);
    TFetchAhead::TResult r = pool.Take(j);
    if (r.Failed || r.Client == nullptr)
        throw EHttpException(r.Client ? r.Client->StatusText() : std::string(), 404);
    return std::unique_ptr<TMemoryStream>(static_cast<TMemoryStream*>(r.Body.release()));
}

void TPageScan::FetchAheadFrom(std::size_t from)
{
    TFetchAhead& pool = **Ahead;
    // Every queued address has passed the follow test already (questions are
    // asked when a link is queued), so any of them may go out early; one
    // that is visited or on its way already is not fetched twice.
    constexpr std::size_t kLook = 64;
    std::unordered_set<std::string_view> inFlight;
    const std::size_t end = std::min(PageQueue.size(), from + kLook);
    for (std::size_t k = from - 1; k < end; ++k)
        if (pool.Holds(k))
            inFlight.insert(PageQueue[k]);
    for (std::size_t k = from; k < end && pool.Idle() > 0; ++k) {
        const std::string& address = PageQueue[k];
        if (pool.Holds(k) || Visited(address) || inFlight.count(address) != 0)
            continue;
        TFetchAhead::TRequest request{address, F.ProxyEdit->Text(), std::make_unique<TMemoryStream>(kMaxPageBytes)};
        if (pool.Start(k, request))
            inFlight.insert(address);
    }
}

void TPageScan::ReadFileTypes()
{
    // Read per page: the type buttons stay usable during a scan.
    ImageExtensions.clear();
    TStrings& types = F.FileTypeList();
    for (int i = 0; i < types.Count(); ++i) {
        std::string ext(1, '.');
        ext += UpperAscii(types.Get(i));
        ImageExtensions.insert(std::move(ext));
    }
}

bool TPageScan::IsImageLink(std::string_view raw) const
{
    if (ImageExtensions.count(UpperAscii(FileExtension(raw))) != 0)
        return true;
    // "pic.jpg?v=2" and "pic.jpg#zoom" name pictures too; the whole address
    // is tried first so that "thumb.php?file=foto.jpg" stays one.
    if (!Modern)
        return false;
    const std::string_view bare = WithoutQueryAndFragment(raw);
    return bare.size() != raw.size() && ImageExtensions.count(UpperAscii(FileExtension(bare))) != 0;
}

void TPageScan::AddIfImage(std::string_view raw)
{
    if (!raw.empty() && IsImageLink(raw))
        AddImage(raw);
}

TResolved TPageScan::Resolve(std::string_view raw) const
{
    TResolved r;
    SplitLink(raw, AllowedDirs[0], r.LinkDir, r.LinkFile);
    if (r.LinkDir.empty())
        r.LinkDir = AllowedDirs[0];
    return r;
}

void TPageScan::SetPageDir(std::string dir)
{
    AllowedUpper[0] = UpperAscii(dir);
    AllowedDirs[0] = std::move(dir);
}

bool TPageScan::InAllowedDir(const std::string& linkDir) const
{
    const std::string upper = UpperAscii(linkDir);
    for (std::size_t i = 0; i < AllowedDirs.size(); ++i)
        if (linkDir == AllowedDirs[i] || StartsWith(upper, AllowedUpper[i]))
            return true;
    return false;
}

void TPageScan::FollowLink(const TResolved& link, std::string_view raw)
{
    if (InAllowedDir(link.LinkDir)) {
        Enqueue(link.Address());
        return;
    }
    if (StartsWith(raw, "../")) {
        Enqueue(link.Address());
        return;
    }
    if (DeclinedIndex.count(link.LinkDir))
        return;
    if (!F.Autosaug->Checked()) {
        const std::string text = "Soll der Link zu \"" + link.LinkDir + "\" weiterverfolgt werden?";
        EndPage();
        const TModalResult answer = MessageDlg(text, "Frage", TMsgIcon::Question, mbYes | mbNo);
        BeginPage();
        if (answer == mrYes) {
            AllowedDirs.push_back(link.LinkDir);
            AllowedUpper.push_back(UpperAscii(link.LinkDir));
            Enqueue(link.Address());
            return;
        }
    }
    DeclinedDirs.push_back(link.LinkDir);
    DeclinedIndex.insert(link.LinkDir);
}

void TPageScan::AddImage(std::string_view raw)
{
    const std::string address = Resolve(raw).Address();
    // The found list keeps its own folded index, so this stays O(1) even when
    // the user edits the list during the scan.
    if (!F.AddFoundImage(address))
        return;
    ++ImageCount;
    PageAdded = true;
}

void TPageScan::BeginPage()
{
    if (PageBatch)
        return;
    F.FoundImageList().BeginUpdate();
    PageBatch = true;
}

void TPageScan::EndPage()
{
    if (!PageBatch)
        return;
    PageBatch = false;
    F.FoundImageList().EndUpdate();
    if (PageAdded) {
        PageAdded = false;
        F.ListBoxChanged();
    }
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
    // An empty target cannot be resolved; like an empty HREF it is passed
    // over instead of ending the page.
    if (!refresh || !hasTarget || target.empty())
        return;
    const TResolved link = Resolve(target);
    // Refresh targets stay within the page's own directory; no question.
    if (link.LinkDir == AllowedDirs[0] || StartsWith(UpperAscii(link.LinkDir), AllowedUpper[0]))
        Enqueue(link.Address());
}

void TPageScan::ExamineTag(const THTMLTag& tag)
{
    const std::string_view name = tag.Name();
    if (name == "META") {
        MetaRule(tag);
    } else if (name == "IMG") {
        for (const THTMLParam& p : tag.Params())
            if ((p.Name() == "SRC" || p.Name() == "DEST") && IsImageLink(p.Value()))
                AddImage(p.Value());
    } else if (name == "FRAME") {
        for (const THTMLParam& p : tag.Params())
            if ((p.Name() == "SRC" || p.Name() == "DEST") && !p.Value().empty() &&
                IsPageExtension(UpperAscii(FileExtension(p.Value()))))
                FollowLink(Resolve(p.Value()), p.Value());
    } else if (name == "A" || name == "AREA" || name == "LINK") {
        for (const THTMLParam& p : tag.Params()) {
            if (p.Name() != "HREF" || p.Value().empty())
                continue;
            if (IsPageExtension(UpperAscii(FileExtension(p.Value()))))
                FollowLink(Resolve(p.Value()), p.Value());
            if (IsImageLink(p.Value()))
                AddImage(p.Value());
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
    }
    for (const THTMLParam& p : tag.Params())
        if (p.Name() == "STYLE")
            for (std::string_view url : StyleBackgroundUrls(p.Value()))
                AddIfImage(url);
}

void TPageScan::Run()
{
    F.HtmlParser = &Parser;
    F.Memo1->Clear();

    {
        const TLinkParts start = SplitLink(StartAddress(F.URLEdit->Text()), AllowedDirs[0]);
        SetPageDir(start.LinkDir);
        AllowedDirs.push_back(start.LinkDir);
        AllowedUpper.push_back(UpperAscii(start.LinkDir));
        PageQueue.push_back(start.LinkDir + start.LinkFile);
    }
    F.AbortRequested = false;
    ImageCount = 0;
    Modern = F.ModernCheck->Checked();
    Parser.Modern = Modern;

    for (std::size_t j = 0; j < PageQueue.size() && !F.AbortRequested; ++j) {
        const std::string& address = PageQueue[j];
        if (Visited(address)) {
            if (Ahead && *Ahead)
                (*Ahead)->Drop(j);
            continue;
        }
        F.AddMemoLine(address);
        try {
            Parser.Lines.Clear();
            Parser.Nodes.Clear();
            ReadFileTypes();
            {
                SetPageDir(SplitLink(address, AllowedDirs[0]).LinkDir);
                const std::unique_ptr<TMemoryStream> stream = Fetch(j, address);
                VisitedIndex.insert(address);
                ++VisitedCount;
                StreamToLines(Parser.Lines, stream->Data());
            }
            Parser.Execute();
            InPicture = false;
            BeginPage();
            for (const THTMLNode* node : Parser.Nodes)
                if (const THTMLTag* tag = node->AsTag())
                    ExamineTag(*tag);
            EndPage();
        } catch (...) {
            EndPage();
            // Whatever failed, the page ends here and the scan goes on.
            F.AddMemoLine("Error...");
        }
    }

    F.AbortRequested = false;
    F.AddMemoLine("Done! (" + std::to_string(VisitedCount) + " html files and " + std::to_string(ImageCount) +
                  " image files found...)...");
}

}  // namespace

void TMainForm::GoBtnClick()
{
    if (URLEdit->Text().empty())
        return;
    // Jobs share HttpCli1 and the parser field: never one inside another's wait.
    if (JobRunning)
        return;
    SetScanState();
    TScanWindowGuard restore(*this);
    TAheadHold ahead(*this, Connections > 1);
    TPageScan scan(*this, ahead);
    scan.Run();
}

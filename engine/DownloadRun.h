// One run of the download engine; shared by the download and by a scan
// whose pictures are fetched while it runs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/DownloadNames.h"
#include "engine/PictureJobs.h"

class TFetchAhead;

// One run of the download: the folder it fills and the steps of each entry.
class TDownloadRun {
public:
    // keyBase: where the entries' keys start in a pool shared with the scan.
    TDownloadRun(TPictureJobs& jobs, const std::vector<std::string>& workList, std::size_t keyBase = 0)
        : Jobs(jobs), WorkList(workList), KeyBase(keyBase)
    {
    }
    // With a folder and a pool of the caller's, entries fetched ahead before
    // the run are taken over at their turn.
    void Run(dlnames::TTargetFolder* sharedFolder, TFetchAhead* sharedPool);
    // Before a run while the list still grows: whether the folder can be
    // used, and fetching ahead the entries listed so far.
    bool PrepareAhead(dlnames::TTargetFolder& Folder);
    void Prefetch(TFetchAhead& Ahead, const dlnames::TTargetFolder& Folder);

private:
    // Creates and fetches one file, which gets its name only when complete;
    // false on failure. SeenFree: the name was found free a moment ago.
    bool DownloadOne(const std::string& Address, const dlnames::TTargetFolder& Folder, const std::string& SaveName,
                     bool SeenFree);
    bool DownloadAhead(TFetchAhead& Ahead, std::size_t Index, const dlnames::TTargetFolder& Folder,
                       const std::string& SaveName, bool SeenFree);
    void FetchAheadFrom(TFetchAhead& Ahead, std::size_t From, const dlnames::TTargetFolder& Folder);
    bool FinishDownload(dlnames::TPendingFile& File, const std::string& SaveName, bool Ok);
    // With duplicates refused: keeps the file just saved unless its bytes
    // equal another file's of the folder, whose name the memo line gives.
    bool KeepUnlessDuplicate(const std::string& SaveName);
    void Line(const std::string& text) { Jobs.Front.MemoLine(text); }

    std::size_t Key(std::size_t index) const { return KeyBase + index; }

    TPictureJobs& Jobs;
    const std::vector<std::string>& WorkList;
    const std::size_t KeyBase;
    // Clients left free for others while fetching ahead.
    int KeepIdle = 0;
    const TPictureChoices& Choices = Jobs.Settings.Choices;
    // The folder as typed with a trailing "/", and the skipping rule, read
    // for every entry: both stay usable during a run.
    std::string Dir;
    bool SkipExisting = false;
};


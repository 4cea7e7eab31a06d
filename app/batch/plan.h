// What a run will do before it reads any picture: each input's output file,
// and the refusals that can be decided from the names and the files that
// are there.
#pragma once

#include <string>
#include <vector>

#include "app/batch/options.h"
#include "app/batch/variables.h"

namespace sigillon::batch {

// The name the test picture goes by, as an input and as an output base name.
inline constexpr const char* kTestPictureName = "test";

// One picture to stamp: where it comes from and where it goes.
struct BatchJob {
    std::string input;    // path, or kTestPictureName for the test picture
    bool testPicture = false;
    std::string output;   // path of the file to write
    std::string refusal;  // non-empty: do not touch this input; why, without the input's name
    bool skip = false;    // --skip-existing and the output is there: the run leaves it alone
    std::vector<std::string> warnings = {};  // --name's variables the picture has no value for
};

// The extension as the file routines see it: from the last '.' of the file
// name to the end, or empty. Letter case is kept.
std::string ExtensionOf(const std::string& path);

// The variables an input's names give: its file name, and the output's
// base name and extension, the --to extension or its own. A name whose
// extension is no picture type's (or that has none) is kept whole as the
// base name and gains the extension of the type its file's first bytes
// show, when they show one.
PictureFacts NameFacts(const std::string& input, bool testPicture, const BatchOptions& options);

// Where one input goes: --out (and below it subFolder, where the input was
// found in a folder walked) or the input's folder; there the base name and
// extension, or --name expanded for it, with any '/' in a value made '_'.
// warnings gains the variables of --name the picture has no value for.
std::string OutputPathFor(const std::string& input, bool testPicture,
                          const BatchOptions& options, const std::string& subFolder = {},
                          std::vector<std::string>* warnings = nullptr);

// Every input's job with its output, and the refusals that can be decided
// before any picture is read: an output that is one of the inputs, the
// stamp or the list of inputs, an output that exists (without --force or
// --skip-existing), two inputs with the same output. All of options.inputs
// is planned whatever the shard, so that every worker of a split list
// refuses and skips exactly as one worker given the whole list would.
// subFolders, when given, holds each input's folder below --out.
std::vector<BatchJob> PlanJobs(const BatchOptions& options,
                               const std::vector<std::string>& subFolders = {});

// Why writing the report at options.reportPath would harm the run, or
// empty: it is an input, the stamp, the list of inputs, or the output of
// one of the jobs (all of them, not only this worker's part).
std::string ReportClash(const BatchOptions& options, const std::vector<BatchJob>& jobs);

}  // namespace sigillon::batch

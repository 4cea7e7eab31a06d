// The settings each picture of a run is stamped with. Without a preset's
// shape sections or variables in --text and --copyright there is one set,
// made before the first picture, as the run has always had it. Otherwise
// each picture is looked at first (picture_facts.h) and gets the set for
// its shape and its expanded texts, made once for each distinct set: a
// text stamp is rendered once per distinct text, not per picture.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "app/batch/job.h"
#include "app/batch/options.h"
#include "app/batch/run.h"

namespace sigillon::batch {

// The reason a text stamp that draws nothing fails its pictures.
inline constexpr const char* kTextNotRendered = "the text stamp could not be rendered";

// The settings for options: the stamp read or the text rendered, ready to
// be shared by the workers. pictures: how many the run has, for the
// memory budget.
Expected<JobSettings> MakeJobSettings(const BatchOptions& options, std::size_t pictures,
                                      const TextRenderer& renderText);

class PictureSettings {
public:
    PictureSettings(const BatchOptions& options, std::size_t pictures, TextRenderer renderText);

    // Whether pictures may differ in their settings.
    bool Varies() const { return varies_; }

    // The run's one set, when nothing varies; made here, once.
    Expected<Done> MakeTheOne();

    // The job's settings; warnings gains each variable it has no value for.
    // Safe to call from several workers at once.
    Expected<const JobSettings*> For(const BatchJob& job, std::vector<std::string>& warnings);

private:
    const BatchOptions& options_;
    std::size_t pictures_;
    TextRenderer renderText_;
    bool varies_ = false;
    std::vector<std::string> exifKeys_;  // what the texts of every shape read
    std::unique_ptr<JobSettings> one_;
    const JobSettings none_;  // for a job refused before it is read

    std::mutex mutex_;
    // By shape, stamp text and copyright; a failed set keeps its failure.
    using Key = std::tuple<bool, std::string, std::string>;
    std::map<Key, Expected<std::unique_ptr<JobSettings>>> made_;
};

}  // namespace sigillon::batch

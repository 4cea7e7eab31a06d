#include "app/batch/picture_settings.h"

#include <exception>
#include <set>
#include <utility>

#include "app/batch/kept_jpeg.h"
#include "app/batch/picture_facts.h"
#include "app/batch/plan.h"

namespace sigillon::batch {

Expected<JobSettings> MakeJobSettings(const BatchOptions& options, std::size_t pictures,
                                      const TextRenderer& renderText) {
    // The stamp is read and made Depth24 once, before any worker starts;
    // from then on nothing writes to it.
    JobSettings settings;
    settings.mode = options.mode;
    settings.times = options.times;
    settings.margin = options.margin;
    settings.scale = options.scale;
    settings.geometry = options.geometry;
    settings.quality = options.quality;
    settings.lossless = options.lossless;
    // Every picture worked on at once may hold its coefficients.
    settings.memoryBudget =
        options.memoryBudget > 0
            ? std::uint64_t(options.memoryBudget) << 20
            : DefaultMemoryBudget(std::min<std::size_t>(
                  options.jobs > 0 ? std::size_t(options.jobs) : AvailableCores(),
                  std::max<std::size_t>(1, pictures)));
    settings.metadata.keep = !options.stripMetadata;
    settings.metadata.autoOrient = options.autoOrient;
    settings.acceptDamaged = options.acceptDamaged;
    if (options.copyrightGiven)
        settings.metadata.copyright = options.copyright;
    else if (options.textGiven && !options.text.empty())
        settings.metadata.copyright = options.text;
    if (!options.stampPath.empty()) {
        Expected<StampImage> stamp = LoadStamp(options.stampPath);
        if (!stamp) return stamp.error();
        settings.stamps.push_back(std::move(*stamp));
    }
    if (options.textGiven) {
        try {
            // Scaled, the text is drawn at every size, and each picture gets
            // the one whose width comes closest to what it needs, fitted.
            const int first = options.scale > 0 ? 1 : options.size;
            const int last = options.scale > 0 ? 9 : options.size;
            for (int size = first; renderText && size <= last; ++size) {
                BatchOptions sized = options;
                sized.size = size;
                Expected<StampImage> rendered = renderText(sized);
                if (!rendered) break;
                settings.stamps.push_back(std::move(*rendered));
            }
        } catch (const std::exception&) {
            settings.stamps.clear();
        }
        if (settings.stamps.empty()) return Failure{Failure::Side::Stamp, kTextNotRendered};
    }
    if (options.colourManagement && !settings.stamps.empty())
        settings.profiles = std::make_shared<StampsByProfile>(settings.stamps);
    return settings;
}

PictureSettings::PictureSettings(const BatchOptions& options, std::size_t pictures,
                                 TextRenderer renderText)
    : options_(options), pictures_(pictures), renderText_(std::move(renderText)) {
    std::set<std::string> keys;
    varies_ = options.portrait || options.landscape;
    for (const BatchOptions* shape : {&options, options.portrait.get(), options.landscape.get()}) {
        if (!shape) continue;
        for (const std::string* text : {&shape->text, &shape->copyright}) {
            std::string problem;  // the options' parsing has refused any
            const TextTemplate parsed = TextTemplate::Parse(*text, problem);
            varies_ = varies_ || parsed.HasVariables();
            for (std::string& key : parsed.ExifKeys()) keys.insert(std::move(key));
        }
    }
    exifKeys_.assign(keys.begin(), keys.end());
}

Expected<Done> PictureSettings::MakeTheOne() {
    Expected<JobSettings> made = MakeJobSettings(options_, pictures_, renderText_);
    if (!made) return made.error();
    one_ = std::make_unique<JobSettings>(std::move(*made));
    return Done{};
}

Expected<const JobSettings*> PictureSettings::For(const BatchJob& job,
                                                  std::vector<std::string>& warnings) {
    if (!job.refusal.empty()) return &none_;
    if (!varies_) return one_.get();
    const bool shaped = options_.portrait || options_.landscape;
    PictureLook look;
    if (shaped || !exifKeys_.empty())
        look = LookAtPicture(job.input, job.testPicture, exifKeys_, options_.autoOrient);
    const BatchOptions* chosen = &options_;
    if (shaped) chosen = look.portrait ? options_.portrait.get() : options_.landscape.get();
    if (!chosen) chosen = &options_;

    PictureFacts facts = NameFacts(job.input, job.testPicture, options_);
    facts.exif = std::move(look.exif);
    BatchOptions expanded = *chosen;
    std::vector<std::string> missing;
    for (auto [name, text] : {std::pair{"--text", &expanded.text},
                              std::pair{"--copyright", &expanded.copyright}}) {
        std::string problem;
        std::vector<std::string> lacking;
        *text = TextTemplate::Parse(*text, problem).Expand(facts, lacking);
        for (std::string& m : lacking) warnings.push_back(std::string(name) + ": " + m);
    }

    const Key key{look.portrait && shaped, expanded.text,
                  expanded.copyrightGiven ? expanded.copyright : std::string()};
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = made_.find(key);
    if (found == made_.end()) {
        Expected<JobSettings> made = MakeJobSettings(expanded, pictures_, renderText_);
        Expected<std::unique_ptr<JobSettings>> kept =
            made ? Expected<std::unique_ptr<JobSettings>>(
                       std::make_unique<JobSettings>(std::move(*made)))
                 : Expected<std::unique_ptr<JobSettings>>(made.error());
        found = made_.emplace(key, std::move(kept)).first;
    }
    if (!found->second) return found->second.error();
    return found->second->get();
}

}  // namespace sigillon::batch

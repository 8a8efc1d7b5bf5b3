// Sub-commands: their options, help texts and the engine method each runs.
#include "cli/Commands.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "batch/BatchRun.h"
#include "cli/Arguments.h"
#include "cli/EngineCall.h"
#include "cli/Modes.h"
#include "common/PictureFormats.h"

namespace kx::cli {

namespace {

// A sub-command with a one-line description, and notes and an example for
// the end of its help.
CLI::App* AddCommand(CLI::App& app, const std::string& name, const std::string& description,
                     const std::string& notes, const std::string& example)
{
    CLI::App* command = app.add_subcommand(name, description);
    command->footer(notes + "\n\nExample:\n  " + example);
    return command;
}

// Makes `work` the action to run when the user picks `command`.
void OnChosen(CLI::App* command, Action& action, Action work)
{
    command->callback([&action, work = std::move(work)] { action = work; });
}

void AddFormatOptions(CLI::App* command, Files& files);

// INPUT and OUTPUT, the first two positional arguments of every sub-command.
void AddFiles(CLI::App* command, Files& files)
{
    command
        ->add_option(
            "INPUT", files.input,
            "Picture to read: JPEG, PNG, GIF, BMP, HEIC/HEIF, AVIF, WebP or TIFF; - reads standard input")
        ->required()
        ->type_name("FILE");
    command
        ->add_option("OUTPUT", files.output,
                     "File to write; its name says the format (.jpg or .jpeg, .png, .webp, .avif) unless "
                     "--format does; an existing file is replaced; - writes standard output (needs --format)")
        ->required()
        ->type_name("FILE");
    AddFormatOptions(command, files);
}

// The output's format and what travels with the picture.
void AddFormatOptions(CLI::App* command, Files& files)
{
    command
        ->add_option("--format", files.format,
                     "Output format: jpeg, png, webp or avif, whatever the OUTPUT's name; "
                     "by default the name's extension says it")
        ->transform(OutputFormat())
        ->type_name("FORMAT");
    AddMetadataOptions(command, files.keepMetadata, files.noAutoOrient, files.srgb);
    AddMemoryLimitOption(command, files.memoryLimit);
}

CLI::Option* AddInteger(CLI::App* command, const std::string& names, int16_t& value, const std::string& help,
                        int16_t lowest = INT16_MIN, int16_t highest = INT16_MAX)
{
    return command->add_option(names, value, help)->transform(WholeNumber(lowest, highest))->type_name("N");
}

CLI::Option* AddColour(CLI::App* command, int32_t& colour, const std::string& help)
{
    return command->add_option("-c,--colour,--color", colour, help)
        ->transform(ColourCode())
        ->type_name("COLOUR");
}

// The arguments of all five resize methods; each uses some of them.
struct ResizeJob {
    Files files;
    int32_t width = 0;
    int32_t height = 0;
    double percent = 0;  // with decimals only in the modern mode
    int32_t quality = KESTRIX_DEFAULT_QUALITY;
    ResampleModes modes;
    std::string name;         // -o DIR's --name PATTERN
    int crop = MiddleCentre;  // where fill crops
};

// The quality of a border or text output: --quality, else 90, or 100 with
// --classic (the library's own).
struct DecorationQuality {
    int32_t quality = 0;  // 0: not given
    bool classic = false;

    void AddOptions(CLI::App* command, bool text = false)
    {
        command
            ->add_option("-q,--quality", quality, "JPEG quality, 1 (smallest file) to 100 (best); default 90")
            ->transform(WholeNumber(1, 100))
            ->type_name("N");
        command->add_flag("--classic", classic,
                          std::string("Write at quality 100 unless --quality, as the library does") +
                              (text ? "; '&' underlines the next character" : ""));
    }
    void Apply(cKestrix* engine) const
    {
        cKestrix_SetDecorationQuality(engine, quality ? quality : classic ? 100 : 90);
        cKestrix_SetJpegCoding(engine, classic ? KESTRIX_JPEG_CLASSIC : KESTRIX_JPEG_MODERN);
    }
};

const std::string kColourNote =
    "A colour is #RRGGBB or #RGB (red first), a colour code 0xBBGGRR (blue first) or\n"
    "the same code in decimal, or a name: black, white, grey, silver, red, maroon, lime,\n"
    "green, blue, navy, yellow, olive, cyan, teal, magenta, purple, orange, pink, brown.";
const std::string kTextNote = "The text is drawn as written; with --classic '&' underlines the next\n"
                              "character and '&&' draws '&'. A character the font lacks comes from an\n"
                              "installed font that has it.\n" +
                              kColourNote;

// The text the engine draws: its '&' underlines the next character, so in
// the modern mode every '&' is doubled to be drawn as itself.
std::string EngineText(const std::string& text, bool classic)
{
    if (classic) return text;
    std::string literal;
    for (const char c : text) literal += c == '&' ? std::string("&&") : std::string(1, c);
    return literal;
}

enum class Size { Width, Height, Percent };

// The sizes a method reads, as they are given on the command line: width first.
std::vector<Size> SizesOf(const kx::batch::MethodSpec& row)
{
    std::vector<Size> sizes;
    if (row.UsesWidth) sizes.push_back(Size::Width);
    if (row.UsesHeight) sizes.push_back(Size::Height);
    if (row.UsesPercentage) sizes.push_back(Size::Percent);
    return sizes;
}

// The help of each resize sub-command, in the order of --help.
struct ResizeCommand {
    kx::batch::Method method;
    const char* description;
    const char* notes;
    const char* example;
};

const ResizeCommand kResizeCommands[] = {
    {kx::batch::Method::Resize, "Resize to exactly WIDTH x HEIGHT pixels", "The proportions are not kept.",
     "kestrix resize photo.jpg thumb.jpg 160x120"},
    {kx::batch::Method::Percent, "Resize to PERCENT percent of the size",
     "Both the width and the height are scaled.", "kestrix percent photo.png half.jpg 50"},
    {kx::batch::Method::MaxWidth, "Scale to WIDTH pixels wide, keeping the proportions",
     "The height follows in true proportion (--classic: to the nearest whole percent);\n"
     "narrower pictures are enlarged unless --shrink-only.",
     "kestrix max-width photo.bmp small.jpg 640"},
    {kx::batch::Method::MaxHeight, "Scale to HEIGHT pixels high, keeping the proportions",
     "The width follows in true proportion (--classic: to the nearest whole percent);\n"
     "lower pictures are enlarged unless --shrink-only.",
     "kestrix max-height photo.gif small.jpg 480"},
    {kx::batch::Method::Fit, "Shrink to fit within WIDTH x HEIGHT, keeping the proportions",
     "Pictures that fit already are written at their own size.",
     "kestrix fit in.png out.jpg 1024x768 --quality 85"},
    {kx::batch::Method::Fill, "Cover WIDTH x HEIGHT keeping the proportions, then crop the middle",
     "The result is exactly WIDTH x HEIGHT: the picture is scaled to cover the box\n"
     "(enlarged if need be) and what overhangs is cut off evenly on both sides, or\n"
     "as --crop says (top, bottom-right, ...).",
     "kestrix fill photo.jpg thumb.jpg 200x200"},
};

// The engine for the resize sub-commands: the modes are set for each
// picture, and a classic method that sizes from the header uses true
// proportions for a picture whose header gives no size, so that it fails
// with the input's reason.
class CommandEngine : public kx::batch::KestrixEngine {
public:
    CommandEngine(const kx::batch::EngineApi& api, cKestrix* object, const ResampleModes& modes)
        : KestrixEngine(api, object)
        , object_(object)
        , modes_(modes)
    {}
    bool Resize(kx::batch::Method method, const std::string& in, const std::string& out,
                const kx::batch::Sizes& sizes, int32_t quality) override
    {
        ApplyModes(object_, modes_);
        const kx::batch::MethodSpec& row = kx::batch::SpecOf(method);
        const bool fromHeader = row.UsesWidth != row.UsesHeight;
        if (fromHeader && modes_.classic && !HeaderGivesSize(in))
            cKestrix_SetTrueProportions(object_, KESTRIX_TRUE);
        return KestrixEngine::Resize(method, in, out, sizes, quality);
    }

private:
    cKestrix* object_;
    const ResampleModes& modes_;
};

// Prints what became of each picture: the decoder's warnings, then why it
// failed; keeps the exit status.
class CommandObserver : public kx::batch::Observer {
public:
    explicit CommandObserver(int32_t format)
        : format_(format)
    {}
    void FileDone(const kx::batch::FileResult& result) override
    {
        PrintWarnings(result.Name);
        if (result.Outcome == kx::batch::FileOutcome::Resized) return;
        // An error code 0: an output another picture writes, the reason says so.
        std::cerr << "kestrix: "
                  << (result.ErrorCode == 0
                          ? result.Name + ": " + result.Reason
                          : FailureText(result.ErrorCode, {result.Name, result.Output, format_},
                                        result.Reason))
                  << '\n';
        status = kExitFailure;
    }
    int status = kExitSuccess;

private:
    int32_t format_;
};

// How the sizes of a command may be given: after OUTPUT (the form its help
// leads with) or by option; both ways at once only with the same values.
struct SizeArguments {
    std::vector<std::string> positional;
    std::string width, height, percent;  // from the options; checked when parsed
};

// The sizes of `sizes` from the arguments, into `job`; a usage error when
// one is missing, wrong or given twice with different values.
void ResolveSizes(const std::vector<Size>& sizes, const SizeArguments& given, ResizeJob& job)
{
    const auto fail = [](const std::string& message) { throw CLI::ValidationError(message); };
    const auto side = [&](const std::string& name, const std::string& text) {
        std::string why;
        const auto value = ParseSide(text, why);
        if (!value) fail(name + ": " + why);
        return std::to_string(*value);
    };
    const bool box = sizes.size() == 2;
    std::string width, height, percent;  // from the positional form
    const std::vector<std::string>& rest = given.positional;
    if (rest.size() > (box ? 2u : 1u)) fail("'" + rest.back() + "' was not expected after the size");
    if (box && rest.size() == 1 && rest[0].find_first_of("xX") != std::string::npos) {
        std::string why;
        const auto parsed = ParseBox(rest[0], why);
        if (!parsed) fail("WxH: " + why);
        // One side left out ("640x"): 0, the proportions decide it.
        width = std::to_string(parsed->first), height = std::to_string(parsed->second);
    } else if (box) {
        if (!rest.empty()) width = side("WIDTH", rest[0]);
        if (rest.size() > 1) height = side("HEIGHT", rest[1]);
    } else if (!rest.empty()) {
        if (sizes[0] == Size::Percent) {
            std::string why;
            const auto parsed = ParsePercent(rest[0], why);
            if (!parsed) fail("PERCENT: " + why);
            percent = PercentText(*parsed);
        } else {
            (sizes[0] == Size::Width ? width : height) =
                side(sizes[0] == Size::Width ? "WIDTH" : "HEIGHT", rest[0]);
        }
    }
    const auto merge = [&](const std::string& positional, const std::string& option, const char* name,
                           auto& value) {
        if (!positional.empty() && !option.empty() && positional != option)
            fail(std::string("the ") + (name + 2) + " is given twice: " + positional + " and " + name + " " +
                 option);
        const std::string& text = positional.empty() ? option : positional;
        if (text.empty())
            fail(std::string(name) + " is required" +
                 (box ? " (or give the size as WIDTHxHEIGHT, e.g. 1024x768)" : " (or give it after OUTPUT)"));
        value = static_cast<std::remove_reference_t<decltype(value)>>(std::stod(text));
    };
    for (const Size size : sizes) {
        if (size == Size::Width) merge(width, given.width, "--width", job.width);
        if (size == Size::Height) merge(height, given.height, "--height", job.height);
        if (size == Size::Percent) merge(percent, given.percent, "--percent", job.percent);
    }
}

void AddSizes(CLI::App* command, const std::vector<Size>& sizes, SizeArguments& given)
{
    const bool box = sizes.size() == 2;
    const char* name = box                        ? "WxH"
                       : sizes[0] == Size::Width  ? "WIDTH"
                       : sizes[0] == Size::Height ? "HEIGHT"
                                                  : "PERCENT";
    const char* help = box ? "Size in pixels, e.g. 1024x768 (or WIDTH HEIGHT, two numbers)"
                       : sizes[0] == Size::Width  ? "Width in pixels"
                       : sizes[0] == Size::Height ? "Height in pixels"
                                                  : "Percentage of the picture's size, e.g. 50 or 50%";
    command->add_option(name, given.positional, help)->type_name("")->expected(0, -1);
    const std::string instead = box ? "; instead of WxH" : "; instead of " + std::string(name);
    for (const Size size : sizes) {
        if (size == Size::Width)
            command->add_option("-W,--width", given.width, "Width in pixels" + instead)
                ->transform(Side())
                ->type_name("N");
        if (size == Size::Height)
            command->add_option("-H,--height", given.height, "Height in pixels" + instead)
                ->transform(Side())
                ->type_name("N");
        if (size == Size::Percent)
            command->add_option("-p,--percent", given.percent, "Percentage" + instead)
                ->transform(Percent())
                ->type_name("N");
    }
}

// How many of the last positional arguments are sizes when -o DIR makes
// all the others inputs: none when the sizes come by option.
size_t TrailingSizes(const std::vector<Size>& sizes, const SizeArguments& given,
                     const std::vector<std::string>& all)
{
    if (!given.width.empty() || !given.height.empty() || !given.percent.empty()) return 0;
    const auto isNumber = [](std::string text) {
        if (text.ends_with('%')) text.pop_back();
        return ParseDecimal(text, -1e300, 1e300).has_value();
    };
    if (all.empty()) return 0;
    const size_t cross = all.back().find_first_of("xX");
    if (sizes.size() == 2 && cross != std::string::npos &&
        (isNumber(all.back().substr(0, cross)) || (cross == 0 && isNumber(all.back().substr(1)))))
        return 1;
    if (sizes.size() == 2 && all.size() >= 2 && isNumber(all.back()) && isNumber(all[all.size() - 2]))
        return 2;
    return isNumber(all.back()) ? 1 : 0;
}

void AddResizeCommand(CLI::App& app, Action& action, const ResizeCommand& definition)
{
    const kx::batch::MethodSpec& row = kx::batch::SpecOf(definition.method);
    CLI::App* command =
        AddCommand(app, row.Name, definition.description, definition.notes, definition.example);
    const auto job = std::make_shared<ResizeJob>();
    const auto given = std::make_shared<SizeArguments>();
    const auto folder = std::make_shared<std::string>();
    command
        ->add_option(
            "INPUT", job->files.input,
            "Picture to read: JPEG, PNG, GIF, BMP, HEIC/HEIF, AVIF, WebP or TIFF; - reads standard input")
        ->required()
        ->type_name("FILE");
    command
        ->add_option(
            "OUTPUT", job->files.output,
            "File to write; its name says the format (.jpg or .jpeg, .png, .webp, .avif) unless "
            "--format does; an existing file is replaced; - writes standard output (needs --format). "
            "With -o, more INPUTs")
        ->type_name("FILE");
    const std::vector<Size> sizes = SizesOf(row);
    AddSizes(command, sizes, *given);
    command
        ->add_option("-o,--output-dir", *folder,
                     "Write each INPUT (one or more) as DIR/<its name up to its last dot>.jpg (or the "
                     "--format's extension), making DIR if need be; no OUTPUT then")
        ->type_name("DIR");
    AddFormatOptions(command, job->files);
    command
        ->add_option("-q,--quality", job->quality,
                     "Quality, 1 (smallest file) to 100 (best); default 90. JPEG, WebP and AVIF each "
                     "take it on their own encoder's scale; PNG is lossless and ignores it")
        ->transform(WholeNumber(1, 100))
        ->type_name("N");
    AddModeOptions(command, job->modes, row.CanEnlarge);
    command
        ->add_option("--name", job->name,
                     "With -o: name outputs by PATTERN: {stem} (or %s) the name up to its last dot, {ext}, "
                     "{method}, {width}, {height}; an ending .jpg, .png, .webp or .avif picks the format. "
                     "-o DIR/PATTERN does the same")
        ->type_name("PATTERN");
    if (row.method == kx::batch::Method::Fill)
        command
            ->add_option(
                "--crop", job->crop,
                "What is kept: centre (default), top, bottom, left, right or a corner (top-left, ...)")
            ->transform(TextPlace())
            ->type_name("PLACE");
    command->callback([&action, job, given, folder, sizes, asked = row.method] {
        // With -o DIR every argument before the sizes is an INPUT.
        std::vector<std::string> all{job->files.input};
        if (!folder->empty()) {
            if (!job->files.output.empty()) all.push_back(job->files.output);
            all.insert(all.end(), given->positional.begin(), given->positional.end());
            const size_t count = TrailingSizes(sizes, *given, all);
            given->positional.assign(all.end() - static_cast<std::ptrdiff_t>(count), all.end());
            all.resize(all.size() - count);
            if (all.empty()) throw CLI::ValidationError("INPUT is required");
        }
        ResolveSizes(sizes, *given, *job);
        kx::batch::Job run;
        run.sizes = {job->height, job->width, static_cast<int32_t>(job->percent)};
        if (job->percent != std::floor(job->percent)) {
            if (job->modes.classic) throw CLI::ValidationError("PERCENT: --classic takes whole percentages");
            run.sizes.DecimalPercentage = job->percent;
        }
        run.Quality = job->quality;
        run.ShrinkOnly = job->modes.shrinkOnly;
        run.InOrder = true;
        run.AutoOrient = !job->files.noAutoOrient;
        if (asked == kx::batch::Method::Fill && (job->width == 0 || job->height == 0))
            throw CLI::ValidationError("WxH: fill needs both the width and the height");
        run.method = OneSided(asked, job->width, job->height, run.ShrinkOnly);
        // The pictures and their outputs: OUTPUT, or with -o DIR/<name up to its last dot>.
        kx::batch::FileList files;
        if (folder->empty()) {
            if (job->files.output.empty()) throw CLI::ValidationError("OUTPUT is required (or -o DIR)");
            if (!job->name.empty()) throw CLI::ValidationError("--name names the outputs of -o DIR");
            files.Names = {job->files.input};
            files.Outputs = {job->files.output};
        } else {
            // -o 'small/thumb_%s.jpg': a folder and a pattern.
            const size_t slash = folder->rfind('/');
            const std::string last = folder->substr(slash == std::string::npos ? 0 : slash + 1);
            if (last.find("%s") != std::string::npos || last.find('{') != std::string::npos) {
                if (!job->name.empty()) throw CLI::ValidationError("-o gives a pattern and so does --name");
                job->name = last;
                *folder = slash == std::string::npos ? "." : folder->substr(0, std::max<size_t>(slash, 1));
            }
            const std::string pattern = job->name.empty() ? "" : PatternOf(job->name, job->files.format);
            const std::string extension(
                kx::OutputFormatExtension(job->files.format < 0 ? KESTRIX_FORMAT_JPEG : job->files.format));
            files.Destination = *folder;
            for (const std::string& input : all) {
                if (input == "-") throw CLI::ValidationError("'-' (standard input) cannot be read with -o");
                files.Names.push_back(input);
                files.Outputs.push_back(kx::batch::PatternName(input.substr(input.rfind('/') + 1), pattern,
                                                               extension, kx::batch::Naming::LastDot,
                                                               FieldsOf(run, asked)));
            }
        }
        action = [job, run, files]() mutable {
            run.Stop = &StopOnSignals();
            Files settings = job->files;
            settings.output = (files.Destination.empty() ? "" : files.Destination + "/") + files.Outputs[0];
            if (!files.Destination.empty()) {
                if (const kx::batch::Problem problem = kx::batch::MakeOutputFolder(files.Destination)) {
                    std::cerr << "kestrix: " << files.Destination << ": cannot make the output folder ("
                              << problem.Reason << ")\n";
                    return kExitFailure;
                }
            }
            const EngineObject engine = OpenEngine(settings);
            if (!engine.object) return engine.status;
            cKestrix_SetFillPlace(engine.object.get(), job->crop);
            StandardStreams streams;
            if (files.Destination.empty() && !streams.Use(files.Names[0], files.Outputs[0]))
                return kExitFailure;
            const kx::batch::EngineApi api = kx::batch::LinkedEngineApi();
            const bool modern = !job->modes.classic;
            CommandEngine methods(api, engine.object.get(), job->modes);
            CommandObserver observer(engine.format);
            // In the modern mode a picture never overwrites the output of an earlier one.
            kx::batch::RunFiles(files, run, methods, observer, [&](kx::batch::FileTask& task) {
                return modern && files.Names.size() > 1 ? kx::batch::RefusedCollision(files, task, true)
                                                        : std::nullopt;
            });
            return streams.Finish() ? StoppedOr(observer.status) : kExitFailure;
        };
    });
}

struct BorderJob {
    Files files;
    DecorationQuality quality;
    int32_t colour = 0;
    int16_t all = 0;
    int16_t top = 0;
    int16_t bottom = 0;
    int16_t left = 0;
    int16_t right = 0;
};

// The arguments of both text methods.
struct TextJob {
    Files files;
    DecorationQuality quality;
    std::string text;
    std::string fontName = "Sans";
    double size = 12;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;
    int16_t charset = 0;
    int32_t colour = 0;
    int16_t top = 0;
    int16_t left = 0;
    int place = BottomRight;

    KestrixFont Font() const
    {
        const auto flag = [](bool on) { return on ? KESTRIX_TRUE : KESTRIX_FALSE; };
        return {fontName.c_str(),    size,   flag(bold), flag(italic), flag(underline),
                flag(strikethrough), charset};
    }
};

// INPUT, OUTPUT, TEXT and the font and colour options of both text commands.
void AddTextOptions(CLI::App* command, TextJob& job)
{
    AddFiles(command, job.files);
    command->add_option("TEXT", job.text, "Text to draw; a newline starts a new line")
        ->required()
        ->type_name("");
    command->add_option("-f,--font", job.fontName, "Font family, e.g. \"DejaVu Sans\"; default Sans")
        ->type_name("NAME");
    command->add_option("-s,--size", job.size, "Font size in points (96 pixels to the inch); default 12")
        ->transform(Decimal(1, 1000))
        ->type_name("POINTS");
    command->add_flag("-b,--bold", job.bold, "Bold");
    command->add_flag("-i,--italic", job.italic, "Italic");
    command->add_flag("-u,--underline", job.underline, "Underlined");
    command->add_flag("--strikethrough", job.strikethrough, "Struck through");
    AddInteger(command, "--charset", job.charset, "Font character set, 0 to 255; default 0", 0, 255);
    AddColour(command, job.colour, "Text colour; default #000000 (black)");
    job.quality.AddOptions(command, true);
}

}  // namespace

void AddResizeCommands(CLI::App& app, Action& action)
{
    for (const ResizeCommand& definition : kResizeCommands) AddResizeCommand(app, action, definition);
}

void AddBorderCommand(CLI::App& app, Action& action)
{
    CLI::App* command = AddCommand(
        app, "border", "Add a border in one colour",
        "Sizes are pixels, -32768 to 32767; a negative size crops that edge.\n" + kColourNote,
        "kestrix border in.jpg out.jpg --top 10 --bottom 10 --left 10 --right 10 --colour '#FF0000'");
    const auto job = std::make_shared<BorderJob>();
    AddFiles(command, job->files);
    AddInteger(command, "-a,--all", job->all, "Border on every side in pixels; --top etc. override it");
    CLI::Option* top = AddInteger(command, "-t,--top", job->top, "Border above, in pixels; negative crops");
    CLI::Option* bottom = AddInteger(command, "--bottom", job->bottom, "Border below, in pixels");
    CLI::Option* left = AddInteger(command, "-l,--left", job->left, "Border on the left, in pixels");
    CLI::Option* right = AddInteger(command, "-r,--right", job->right, "Border on the right, in pixels");
    AddColour(command, job->colour, "Border colour; default #000000 (black)");
    job->quality.AddOptions(command);
    OnChosen(command, action, [job, top, bottom, left, right] {
        const auto side = [&](const CLI::Option* option, int16_t value) {
            return option->count() > 0 ? value : job->all;
        };
        return RunEngineMethod(job->files, [&](cKestrix* engine, const char* in, const char* out) {
            job->quality.Apply(engine);
            return cKestrix_AddBorderToExistingImage(engine, in, out, job->colour, side(top, job->top),
                                                     side(bottom, job->bottom), side(left, job->left),
                                                     side(right, job->right));
        });
    });
}

void AddTextCommands(CLI::App& app, Action& action)
{
    CLI::App* text =
        AddCommand(app, "text", "Draw a text at a position in pixels",
                   "The text's top-left corner goes to (--left, --top).\n" + kTextNote,
                   "kestrix text in.jpg out.jpg \"Hello\" --top 10 --left 20 --font \"DejaVu Sans\" "
                   "--size 12 --bold --colour '#FFFFFF'");
    const auto atPosition = std::make_shared<TextJob>();
    AddTextOptions(text, *atPosition);
    AddInteger(text, "-t,--top", atPosition->top,
               "Top of the text in pixels from the picture's top; default 0");
    AddInteger(text, "-l,--left", atPosition->left,
               "Left of the text in pixels from the picture's left; default 0");
    OnChosen(text, action, [job = atPosition] {
        const KestrixFont font = job->Font();
        return RunEngineMethod(job->files, [&](cKestrix* engine, const char* in, const char* out) {
            job->quality.Apply(engine);
            return cKestrix_AddTextToImage(engine, in, out,
                                           EngineText(job->text, job->quality.classic).c_str(), &font,
                                           job->colour, job->top, job->left);
        });
    });

    CLI::App* textAt =
        AddCommand(app, "text-at", "Draw a text at one of nine places",
                   "Places: top-left, top-centre, top-right, middle-left, middle-centre,\n"
                   "middle-right, bottom-left, bottom-centre, bottom-right; also centre, top,\n"
                   "bottom, left, right and north-west, north, ..., south-east. \"center\" for\n"
                   "\"centre\", any case, and \"-\", \"_\", a space or nothing between the words.\n"
                   "The text stays 2 pixels from the edges.\n" +
                       kTextNote,
                   "kestrix text-at in.jpg out.jpg \"(c) 2026\" --at bottom-right --colour '#FFFFFF'");
    const auto atPlace = std::make_shared<TextJob>();
    AddTextOptions(textAt, *atPlace);
    textAt->add_option("-a,--at", atPlace->place, "Where to draw the text; default bottom-right")
        ->transform(TextPlace())
        ->type_name("PLACE");
    OnChosen(textAt, action, [job = atPlace] {
        const KestrixFont font = job->Font();
        return RunEngineMethod(job->files, [&](cKestrix* engine, const char* in, const char* out) {
            job->quality.Apply(engine);
            return cKestrix_AddTextToImageUsingSpecifiedPosition(
                engine, in, out, EngineText(job->text, job->quality.classic).c_str(), &font, job->colour,
                static_cast<TEXT_POSITION>(job->place));
        });
    });
}

}  // namespace kx::cli

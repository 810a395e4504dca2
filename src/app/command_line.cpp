#include "command_line.h"

#include "core/prompter.h"
#include "core/settings.h"

#include <QCommandLineParser>
#include <QDir>

#include <algorithm>
#include <set>

namespace {

constexpr int MaxTrack = 99;
constexpr int MinRate = 1000;
constexpr int MaxRate = 384000;

struct TConversionName {
    const char* Name;
    TConversionKind Kind;
};

constexpr TConversionName ConversionNames[] = {
    {"wav-mp3", TConversionKind::WavToMp3}, {"mp3-wav", TConversionKind::Mp3ToWav},
    {"wav-ogg", TConversionKind::WavToOgg}, {"wav-wma", TConversionKind::WavToWma},
    {"wav-wav", TConversionKind::WavToWav},
};

// A whole number in text, or nothing (no sign, no blanks, no other base).
std::optional<int> WholeNumber(const QString& text)
{
    if (text.isEmpty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        }))
        return std::nullopt;
    return text.toInt();
}

std::optional<int> TrackNumber(const QString& text, const QString& entry, QString* error)
{
    const std::optional<int> number = WholeNumber(text.trimmed());
    if (!number) {
        *error = QStringLiteral("\"%1\" is not a track number or a range such as 3-5").arg(entry.trimmed());
        return std::nullopt;
    }
    if (*number < 1) {
        *error = QStringLiteral("track numbers start at 1 (\"%1\")").arg(entry.trimmed());
        return std::nullopt;
    }
    if (*number > MaxTrack) {
        *error = QStringLiteral("a disc has at most %1 tracks (\"%2\")").arg(MaxTrack).arg(entry.trimmed());
        return std::nullopt;
    }
    return number;
}

// The value of a numeric option within the allowed values, or an error.
std::optional<int> NumberOption(const QCommandLineParser& parser, const QString& name,
                                const std::vector<int>& allowed, int low, int high, QString* error)
{
    if (!parser.isSet(name))
        return std::nullopt;
    const QString text = parser.value(name).trimmed();
    const std::optional<int> number = WholeNumber(text);
    const bool fits =
        number && (allowed.empty() ? *number >= low && *number <= high
                                   : std::find(allowed.begin(), allowed.end(), *number) != allowed.end());
    if (!fits) {
        QStringList choices;
        for (int value : allowed)
            choices.append(QString::number(value));
        const QString range = allowed.empty() ? QStringLiteral("a number from %1 to %2").arg(low).arg(high)
                                              : choices.join(QStringLiteral(" or "));
        *error = QStringLiteral("--%1 takes %2, not \"%3\"").arg(name, range, text);
        return std::nullopt;
    }
    return number;
}

} // namespace

std::optional<std::vector<int>> ParseTrackList(const QString& text, QString* error)
{
    std::set<int> tracks;
    if (text.trimmed().isEmpty()) {
        *error = QStringLiteral("no track numbers given");
        return std::nullopt;
    }
    for (const QString& entry : text.split(QLatin1Char(','))) {
        if (entry.trimmed().isEmpty()) {
            *error = QStringLiteral("an empty entry in the track list \"%1\"").arg(text);
            return std::nullopt;
        }
        const qsizetype dash = entry.indexOf(QLatin1Char('-'));
        if (dash < 0) {
            const std::optional<int> track = TrackNumber(entry, entry, error);
            if (!track)
                return std::nullopt;
            tracks.insert(*track);
            continue;
        }
        const std::optional<int> first = TrackNumber(entry.left(dash), entry, error);
        if (!first)
            return std::nullopt;
        const std::optional<int> last = TrackNumber(entry.mid(dash + 1), entry, error);
        if (!last)
            return std::nullopt;
        if (*last < *first) {
            *error = QStringLiteral("the range \"%1\" runs backwards; write %2-%3")
                         .arg(entry.trimmed())
                         .arg(*last)
                         .arg(*first);
            return std::nullopt;
        }
        for (int track = *first; track <= *last; ++track)
            tracks.insert(track);
    }
    return std::vector<int>(tracks.begin(), tracks.end());
}

int OutputFormatOfName(const QString& name)
{
    const QStringList names{QStringLiteral("mp3"), QStringLiteral("wav"), QStringLiteral("ogg"),
                            QStringLiteral("wma")};
    return static_cast<int>(names.indexOf(name.trimmed().toLower()));
}

TParsedCommandLine ParseCommandLine(const QStringList& arguments)
{
    TParsedCommandLine parsed;
    TCommandLineOptions& options = parsed.Options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({
        {{QStringLiteral("h"), QStringLiteral("help")}, QString()},
        {{QStringLiteral("v"), QStringLiteral("version")}, QString()},
        {QStringLiteral("cd-image"), QString(), QStringLiteral("FILE")},
        {QStringLiteral("extract"), QString()},
        {QStringLiteral("lookup"), QString()},
        {QStringLiteral("tracks"), QString(), QStringLiteral("LIST")},
        {QStringLiteral("format"), QString(), QStringLiteral("FORMAT")},
        {QStringLiteral("output"), QString(), QStringLiteral("DIR")},
        {QStringLiteral("convert"), QString(), QStringLiteral("KIND")},
        {QStringLiteral("rate"), QString(), QStringLiteral("N")},
        {QStringLiteral("channels"), QString(), QStringLiteral("N")},
        {QStringLiteral("bits"), QString(), QStringLiteral("N")},
        {QStringLiteral("adpcm"), QString()},
        {QStringLiteral("overwrite"), QString()},
        {QStringLiteral("no-overwrite"), QString()},
    });
    if (!parser.parse(arguments)) {
        parsed.Error = parser.errorText();
        return parsed;
    }
    QString& error = parsed.Error;
    if (parser.isSet(QStringLiteral("help"))) {
        options.Mode = TCommandLineMode::Help;
        return parsed;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        options.Mode = TCommandLineMode::Version;
        return parsed;
    }
    options.CdImages = parser.values(QStringLiteral("cd-image"));

    const bool extract = parser.isSet(QStringLiteral("extract"));
    const bool convert = parser.isSet(QStringLiteral("convert"));
    const bool lookup = parser.isSet(QStringLiteral("lookup"));
    if (extract && convert) {
        error = QStringLiteral("--extract and --convert cannot go together; run one job at a time");
        return parsed;
    }
    if (lookup && convert) {
        error = QStringLiteral("--lookup looks up the disc in the drive; it goes alone or with --extract");
        return parsed;
    }
    if (parser.values(QStringLiteral("convert")).size() > 1) {
        error = QStringLiteral("--convert is given more than once");
        return parsed;
    }
    // Options that belong to a job must come with the job they belong to.
    for (const char* name : {"tracks", "format"}) {
        if (parser.isSet(QLatin1String(name)) && !extract) {
            error = QStringLiteral("--%1 goes with --extract").arg(QLatin1String(name));
            return parsed;
        }
    }
    for (const char* name : {"output", "overwrite", "no-overwrite"}) {
        if (parser.isSet(QLatin1String(name)) && !extract && !convert) {
            error = QStringLiteral("--%1 goes with --extract or --convert").arg(QLatin1String(name));
            return parsed;
        }
    }
    if (parser.isSet(QStringLiteral("overwrite")) && parser.isSet(QStringLiteral("no-overwrite"))) {
        error = QStringLiteral("--overwrite and --no-overwrite contradict each other");
        return parsed;
    }
    options.Overwrite = parser.isSet(QStringLiteral("overwrite"));
    if (parser.isSet(QStringLiteral("output"))) {
        options.OutputFolder = parser.value(QStringLiteral("output"));
        if (options.OutputFolder.trimmed().isEmpty()) {
            error = QStringLiteral("--output names no folder");
            return parsed;
        }
    }
    const QStringList positional = parser.positionalArguments();

    if (lookup && !extract) {
        options.Mode = TCommandLineMode::Lookup;
        if (!positional.isEmpty()) {
            error = QStringLiteral("--lookup takes no files (\"%1\")").arg(positional[0]);
            return parsed;
        }
    } else if (extract) {
        options.Mode = TCommandLineMode::Extract;
        options.Lookup = lookup;
        if (!positional.isEmpty()) {
            error = QStringLiteral("--extract takes no files (\"%1\"); name tracks with --tracks")
                        .arg(positional[0]);
            return parsed;
        }
        if (parser.isSet(QStringLiteral("tracks"))) {
            QString reason;
            options.Tracks =
                ParseTrackList(parser.values(QStringLiteral("tracks")).join(QLatin1Char(',')), &reason);
            if (!options.Tracks) {
                error = QStringLiteral("--tracks: ") + reason;
                return parsed;
            }
        }
        if (parser.isSet(QStringLiteral("format"))) {
            const int format = OutputFormatOfName(parser.value(QStringLiteral("format")));
            if (format < 0) {
                error = QStringLiteral("--format takes mp3, wav, ogg or wma, not \"%1\"")
                            .arg(parser.value(QStringLiteral("format")));
                return parsed;
            }
            options.OutputFormat = format;
        }
    } else if (convert) {
        options.Mode = TCommandLineMode::Convert;
        const QString kind = parser.value(QStringLiteral("convert")).trimmed().toLower();
        const auto* found =
            std::find_if(std::begin(ConversionNames), std::end(ConversionNames),
                         [&](const TConversionName& name) { return kind == QLatin1String(name.Name); });
        if (found == std::end(ConversionNames)) {
            error =
                QStringLiteral("--convert takes wav-mp3, mp3-wav, wav-ogg, wav-wma or wav-wav, not \"%1\"")
                    .arg(parser.value(QStringLiteral("convert")));
            return parsed;
        }
        options.Conversion = found->Kind;
        if (positional.isEmpty()) {
            error = QStringLiteral("--convert %1 needs the files to convert").arg(kind);
            return parsed;
        }
        options.Files = positional;
    } else if (!positional.isEmpty()) {
        error = QStringLiteral("unexpected argument \"%1\"; files go with --convert").arg(positional[0]);
        return parsed;
    }

    const bool wavToWav = convert && options.Conversion == TConversionKind::WavToWav;
    for (const char* name : {"rate", "channels", "bits", "adpcm"}) {
        if (parser.isSet(QLatin1String(name)) && !wavToWav) {
            error = QStringLiteral("--%1 goes with --convert wav-wav").arg(QLatin1String(name));
            return parsed;
        }
    }
    if (wavToWav) {
        options.SampleRate = NumberOption(parser, QStringLiteral("rate"), {}, MinRate, MaxRate, &error);
        if (error.isEmpty())
            options.Channels = NumberOption(parser, QStringLiteral("channels"), {1, 2}, 0, 0, &error);
        if (error.isEmpty())
            options.BitsPerSample = NumberOption(parser, QStringLiteral("bits"), {8, 16}, 0, 0, &error);
        if (!error.isEmpty())
            return parsed;
        options.Adpcm = parser.isSet(QStringLiteral("adpcm"));
        if (options.Adpcm && options.BitsPerSample == 8) {
            error = QStringLiteral("--adpcm writes 16-bit sound; it cannot go with --bits 8");
            return parsed;
        }
        if (!options.SampleRate && !options.Channels && !options.BitsPerSample && !options.Adpcm) {
            error = QStringLiteral(
                "--convert wav-wav needs at least one of --rate, --channels, --bits and --adpcm");
            return parsed;
        }
    }
    return parsed;
}

TWavConvertChain::TOutputFormat WavOutputFormat(const TCommandLineOptions& options, int inputRate,
                                                int inputChannels, int inputBits)
{
    TWavConvertChain::TOutputFormat format;
    format.SampleRate = options.SampleRate.value_or(inputRate);
    format.Channels = options.Channels.value_or(inputChannels);
    // IMA ADPCM holds 16-bit sound, so it widens an 8-bit input unless told otherwise.
    format.BitsPerSample = options.BitsPerSample.value_or(options.Adpcm ? 16 : inputBits);
    format.WavType = options.Adpcm ? wtDVIADPCM : wtPCM;
    return format;
}

QString CommandLineHelp()
{
    return QStringLiteral(
               R"(Usage: velbrook [--cd-image FILE]...
       velbrook --extract [--lookup] [--tracks LIST] [--format mp3|wav|ogg|wma]
                [--output DIR] [--cd-image FILE]... [--overwrite | --no-overwrite]
       velbrook --lookup [--cd-image FILE]...
       velbrook --convert wav-mp3|mp3-wav|wav-ogg|wav-wma [--output DIR]
                [--overwrite | --no-overwrite] FILE...
       velbrook --convert wav-wav [--rate N] [--channels 1|2] [--bits 8|16] [--adpcm]
                [--output DIR] [--overwrite | --no-overwrite] FILE...

%1 extracts audio CDs into WAV, MP3, Ogg Vorbis and WMA files, converts,
records and plays sound. Without --extract, --convert or --lookup it opens its
window, which needs a display. With --extract or --convert it runs one job in
the terminal without a window (no display needed) and prints one progress line
per file: a live bar on a terminal, a plain line per finished file otherwise.
Ctrl+C stops the job; the file in progress is removed, finished files stay.

Options:
  --extract            Extract tracks of the audio disc in the first drive: the
                       first --cd-image when one is given, else the first CD drive.
  --lookup             Look the disc in the first drive up on the CDDB server of
                       the options, print artist, album, year, genre and titles,
                       and keep them for the disc as the window does. With
                       --extract: look up first and name the files by what was
                       found (when nothing is found, by the titles kept).
  --tracks LIST        Tracks to extract, such as 1,3-5 (default: every audio
                       track). Extracted in disc order; a track named twice is
                       extracted once.
  --format FORMAT      mp3, wav, ogg or wma (default: the output format chosen in
                       the options).
  --output DIR         Folder that receives the files (default: the output folder
                       chosen in the options). Created when it does not exist.
  --cd-image FILE      Use the disc image FILE (a CUE sheet or cdrdao TOC file) as
                       a CD drive; may be repeated. Also taken from the
                       VELBROOK_CD_IMAGES variable (colon-separated).
  --convert KIND       Convert the FILEs: wav-mp3, mp3-wav, wav-ogg, wav-wma, or
                       wav-wav (another sample rate, channel count, sample size or
                       encoding; what is not given stays as in the input).
  --rate N             wav-wav: sample rate of the output in Hz (1000 to 384000).
  --channels 1|2       wav-wav: channels of the output.
  --bits 8|16          wav-wav: bits per sample of the output.
  --adpcm              wav-wav: write IMA ADPCM (16 bits) instead of plain PCM.
  --overwrite          Replace output files that exist already.
  --no-overwrite       Keep output files that exist already and skip their items
                       (the default).
  -h, --help           Show this text.
  -v, --version        Show the version.

Where files go:
  Extraction writes OUTPUT/TITLE.wav and encodes it to OUTPUT/TITLE.mp3, .ogg or
  .wma; the WAV file is deleted after encoding unless "keep WAV files" is set in
  the options. Titles come from the titles kept for the disc (typed in the window
  or found by a CDDB lookup); a disc never seen gets Track01, Track02...
  A conversion writes OUTPUT/NAME.mp3 (.wav, .ogg, .wma): the input's name with
  the new extension. wav-wav writes OUTPUT/NAME.wav; an input lying in the output
  folder would be its own output and is refused: choose another --output.
  Settings (encoder options, output folder and format, keep WAV, normalize) come
  from the options file; options given on the command line apply to this run
  only and are not saved. The options file: %2

Exit codes:
  0    every item produced its file
  1    an item failed or was skipped (an output that exists without --overwrite),
       or the job could not go on (a drive error, an encoder that cannot start);
       --lookup: no match, no track titles, or the server failed (it says which)
  2    the command line is wrong, or a file it names is missing; nothing was done
  3    no CD drive, no audio disc, or the disc cannot be read
  130  stopped by Ctrl+C
)")
        .arg(ProductName(), QDir::toNativeSeparators(SettingsFilePath()));
}

#include "SpeechRecognizer.h"

#include "HttpMessage.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace standin {
namespace {

std::uint32_t le32(std::string_view s, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint16_t le16(std::string_view s, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
    return std::uint16_t(p[0] | p[1] << 8);
}

[[noreturn]] void reject(const std::string& reason) {
    throw HttpError{400, "audio must be a 16 kHz mono 16-bit PCM WAV file: " + reason};
}

// "<sil>", "<s>", "[NOISE]", "++garbage++" and the like are not words; "word(2)" is the second
// pronunciation of "word".
std::string cleanWord(const std::string& token) {
    if (token.empty() || token.front() == '<' || token.front() == '[' || token.front() == '+') {
        return {};
    }
    const auto paren = token.find('(');
    return paren == std::string::npos ? token : token.substr(0, paren);
}

} // namespace

std::vector<std::int16_t> pcm16kMonoSamples(std::string_view wav) {
    if (wav.size() < 12 || wav.substr(0, 4) != "RIFF" || wav.substr(8, 4) != "WAVE") {
        reject("the data is not a RIFF/WAVE file");
    }
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        const std::string_view id = wav.substr(at, 4);
        const std::uint64_t size = le32(wav, at + 4);
        const std::size_t body = at + 8;
        if (id == "fmt ") {
            if (size < 16 || body + 16 > wav.size()) {
                reject("the format chunk is too short");
            }
            const std::uint16_t format = le16(wav, body);
            const std::uint16_t channels = le16(wav, body + 2);
            const std::uint32_t rate = le32(wav, body + 4);
            const std::uint16_t bits = le16(wav, body + 14);
            // 0xFFFE is WAVE_FORMAT_EXTENSIBLE, which carries plain PCM as well.
            if (format != 1 && format != 0xFFFE) {
                reject("the encoding is not PCM (format " + std::to_string(format) + ")");
            }
            if (channels != 1) {
                reject("it has " + std::to_string(channels) + " channels");
            }
            if (rate != SpeechRecognizer::sampleRate) {
                reject("its sample rate is " + std::to_string(rate) + " Hz");
            }
            if (bits != 16) {
                reject("its samples have " + std::to_string(bits) + " bits");
            }
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat) {
                reject("the data chunk comes before the format chunk");
            }
            // A writer that streamed the file may leave the size at its maximum: take what is there.
            const std::size_t available = wav.size() - body;
            const std::size_t bytes = std::min<std::uint64_t>(size, available) & ~std::size_t(1);
            std::vector<std::int16_t> samples(bytes / 2);
            for (std::size_t i = 0; i < samples.size(); ++i) {
                samples[i] = std::int16_t(le16(wav, body + 2 * i));
            }
            return samples;
        }
        at = body + size + (size & 1); // chunks are padded to an even length
    }
    reject(haveFormat ? "it has no data chunk" : "it has no format chunk");
}

// The instructions StandinRewrite applies, with the lead-ins people say before them.
constexpr const char* kInstructionGrammar = R"(#JSGF V1.0;
grammar instructions;
public <instruction> = [please] [<lead>] <rewrite> [please];
<lead> = make it | make this | make that | change it to | turn it into | convert it to | put it in;
<rewrite> = upper case | all caps | capitals | capital letters | lower case | small letters | title case
          | capitalize each word | capitalize every word;
)";
constexpr const char* kInstructionSearch = "instructions";

struct SpeechRecognizer::Decoder {
    ps_decoder_t* ps = nullptr;
    std::string dictationSearch; // the language model's search, the decoder's first
    ~Decoder() {
        if (ps) {
            ps_free(ps);
        }
    }
};

std::string SpeechRecognizer::modelDirectory() {
    if (const char* custom = std::getenv("QUILLVANE_STANDIN_SPEECH_MODEL"); custom && *custom) {
        return custom;
    }
    return "/usr/share/pocketsphinx/model/en-us";
}

SpeechRecognizer& SpeechRecognizer::shared() {
    static SpeechRecognizer recognizer;
    return recognizer;
}

SpeechRecognizer::~SpeechRecognizer() = default;

void SpeechRecognizer::loadLocked() {
    if (m_decoder) {
        return;
    }
    // The decoder writes pages of diagnostics to stderr; the stand-in's own log is enough.
    err_set_logfp(nullptr);
    const std::string dir = modelDirectory();
    const std::string hmm = dir + "/en-us";
    const std::string lm = dir + "/en-us.lm.bin";
    const std::string dict = dir + "/cmudict-en-us.dict";
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-lm", lm.c_str(), "-dict",
                                   dict.c_str(), "-samprate", "16000", nullptr);
    if (!config) {
        throw std::runtime_error("the speech model in " + dir + " could not be configured");
    }
    auto decoder = std::make_unique<Decoder>();
    decoder->ps = ps_init(config);
    cmd_ln_free_r(config); // the decoder keeps its own reference
    if (!decoder->ps) {
        throw std::runtime_error("the speech model in " + dir + " could not be loaded");
    }
    decoder->dictationSearch = ps_get_search(decoder->ps);
    if (ps_set_jsgf_string(decoder->ps, kInstructionSearch, kInstructionGrammar) < 0) {
        throw std::runtime_error("the instruction grammar could not be loaded with the speech model in " +
                                 dir);
    }
    m_decoder = std::move(decoder);
}

struct SpeechRecognizer::Decoding {
    std::string words;             // blank-separated, fillers and silences left out
    int32 pathScore = 0;           // of the best path
    std::int64_t wordAcoustic = 0; // acoustic score of the words' segments
    std::int64_t wordFrames = 0;
};

SpeechRecognizer::Decoding SpeechRecognizer::decodeLocked(const std::string& search,
                                                          const std::vector<std::int16_t>& samples) {
    ps_decoder_t* ps = m_decoder->ps;
    if (ps_set_search(ps, search.c_str()) < 0) {
        throw std::runtime_error("the speech decoder has no search \"" + search + "\"");
    }
    if (ps_start_utt(ps) < 0) {
        throw std::runtime_error("the speech decoder could not start an utterance");
    }
    const int processed = ps_process_raw(ps, samples.data(), samples.size(), FALSE, TRUE);
    ps_end_utt(ps);
    if (processed < 0) {
        throw std::runtime_error("the speech decoder could not process the audio");
    }
    Decoding out;
    ps_get_hyp(ps, &out.pathScore);
    // The segment list drops fillers more reliably than the hypothesis string.
    for (ps_seg_t* seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
        const char* word = ps_seg_word(seg);
        const std::string clean = cleanWord(word ? word : "");
        if (clean.empty()) {
            continue;
        }
        if (!out.words.empty()) {
            out.words += ' ';
        }
        out.words += clean;
        int32 acoustic = 0, language = 0, backoff = 0;
        int first = 0, last = 0;
        ps_seg_prob(seg, &acoustic, &language, &backoff);
        ps_seg_frames(seg, &first, &last);
        out.wordAcoustic += acoustic;
        out.wordFrames += last - first + 1;
    }
    return out;
}

std::string SpeechRecognizer::recognize(const std::vector<std::int16_t>& samples) {
    std::lock_guard lock(m_mutex);
    loadLocked();
    if (samples.empty()) {
        return {};
    }
    return decodeLocked(m_decoder->dictationSearch, samples).words;
}

SpeechRecognizer::Instruction
SpeechRecognizer::recognizeInstruction(const std::vector<std::int16_t>& samples) {
    std::lock_guard lock(m_mutex);
    loadLocked();
    Instruction out;
    if (samples.empty()) {
        return out;
    }
    const Decoding grammar = decodeLocked(kInstructionSearch, samples);
    const Decoding dictation = decodeLocked(m_decoder->dictationSearch, samples);
    out.phrase = grammar.words;
    if (!out.phrase.empty() && grammar.wordFrames > 0) {
        out.confidence =
            double(std::int64_t(grammar.pathScore) - dictation.pathScore + grammar.wordAcoustic) /
            double(grammar.wordFrames);
        out.fromGrammar = out.confidence >= instructionThreshold;
    }
    out.text = out.fromGrammar ? out.phrase : dictation.words;
    return out;
}

} // namespace standin

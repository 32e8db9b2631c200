#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// English speech recognition for the stand-in's transcription endpoints, with the en-us acoustic model,
// language model and dictionary of the pocketsphinx packages. One decoder, loaded on first use and kept for
// the life of the process; one utterance is decoded at a time. Besides free dictation it knows a small
// grammar of the AI Mode instructions the stand-in applies, which it hears far better than free dictation
// hears them ("upper case" comes back as "up her case" from free dictation).
namespace standin {

// The samples of a WAV file in the one format the stand-in accepts: PCM, 16 bits, one channel, 16 kHz.
// Throws HttpError 400 with a sentence that says what is wrong otherwise.
std::vector<std::int16_t> pcm16kMonoSamples(std::string_view wav);

class SpeechRecognizer {
public:
    static constexpr int sampleRate = 16000;

    // Where the model files are: $QUILLVANE_STANDIN_SPEECH_MODEL when set, else the Debian package's folder.
    static std::string modelDirectory();

    // The process-wide recogniser.
    static SpeechRecognizer& shared();

    ~SpeechRecognizer();
    SpeechRecognizer(const SpeechRecognizer&) = delete;
    SpeechRecognizer& operator=(const SpeechRecognizer&) = delete;

    // The words heard in the samples, lower case and blank-separated, without filler or silence marks; empty
    // when nothing was recognised. Loads the decoder on first use; throws std::runtime_error when the model
    // cannot be loaded. Thread-safe; decodes one call at a time.
    std::string recognize(const std::vector<std::int16_t>& samples);

    // A spoken AI Mode instruction. The audio is decoded against the instruction grammar (the phrases
    // StandinRewrite applies, with lead-ins such as "make it" or "change it to") and as free dictation; the
    // grammar's phrase is taken when its confidence reaches the threshold, the free dictation otherwise.
    //
    // The confidence, per frame (10 ms) of the phrase's words: how far the grammar's best path scores above
    // the free dictation's best path, plus the acoustic score of the phrase's words (at most zero: how far
    // they fall short of the best-matching sound units), both in the decoder's log units. A phrase that was
    // said beats free dictation and fits the sounds closely; other speech forced onto a phrase does neither.
    // Measured with flite's slt, awb and rms voices, each clip bare and with a second of faint noise before
    // and 1.5 s after: 19 instructions scored 6.8 or more (median 17), 33 other sentences -5.6 or less
    // (median -41) or fitted no phrase at all; the threshold lies between. "all cats" is heard as "all
    // caps". The 8 kHz kal voice fits worse: 35 of its 38 instructions pass, 1 of its 66 other sentences.
    struct Instruction {
        std::string text;      // what was heard: the phrase, or the free dictation
        std::string phrase;    // the grammar's best phrase; empty when no phrase fits the audio at all
        double confidence = 0; // of the phrase; 0 when there is none
        bool fromGrammar = false;
    };
    static constexpr double instructionThreshold = 0.0;
    // Loads the decoder on first use; throws std::runtime_error when the model cannot be loaded.
    // Thread-safe; decodes one call at a time.
    Instruction recognizeInstruction(const std::vector<std::int16_t>& samples);

private:
    SpeechRecognizer() = default;
    struct Decoder;
    struct Decoding;
    void loadLocked();
    Decoding decodeLocked(const std::string& search, const std::vector<std::int16_t>& samples);

    std::mutex m_mutex;
    std::unique_ptr<Decoder> m_decoder;
};

} // namespace standin

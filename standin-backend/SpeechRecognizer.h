#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// English speech recognition for the stand-in's transcription endpoints, with the en-us acoustic model,
// language model and dictionary of the pocketsphinx packages. One decoder, loaded on first use and kept for
// the life of the process; one utterance is decoded at a time.
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

private:
    SpeechRecognizer() = default;
    struct Decoder;
    void loadLocked();

    std::mutex m_mutex;
    std::unique_ptr<Decoder> m_decoder;
};

} // namespace standin

#include "StandinRewrite.h"

#include <QStringList>

#include <algorithm>
#include <string_view>

namespace standin {
namespace {

bool isOneOf(const QString& word, std::initializer_list<std::string_view> list) {
    return std::any_of(list.begin(), list.end(), [&word](std::string_view w) {
        return word == QLatin1String(w.data(), qsizetype(w.size()));
    });
}

// A pronoun that opens a clause as its subject. "it" also follows a command as its object ("do it now").
bool isSubjectPronoun(const QString& word, bool countIt) {
    if (word == QLatin1String("it") || word == QLatin1String("it's") || word == QLatin1String("it'll")) {
        return countIt;
    }
    return isOneOf(word, {"i",      "you",     "we",      "they",     "he",      "she",    "i'm",
                          "you're", "we're",   "they're", "he's",     "she's",   "i've",   "you've",
                          "we've",  "they've", "i'd",     "you'd",    "we'd",    "they'd", "he'd",
                          "she'd",  "i'll",    "you'll",  "we'll",    "they'll", "he'll",  "she'll",
                          "anyone", "anybody", "someone", "somebody", "everyone"});
}

bool opensQuestion(const QStringList& words) {
    const QString first = words.front().toLower();
    const QString second = words.size() > 1 ? words[1].toLower() : QString();
    if (isOneOf(first, {"what", "why", "how", "who", "whom", "whose", "which", "when", "where"})) {
        return !isSubjectPronoun(second, true);
    }
    if (isOneOf(first, {"do", "don't", "have", "had", "must"})) {
        return isSubjectPronoun(second, false);
    }
    return isOneOf(first,
                   {"is",        "are",     "am",     "was",     "were",    "can",      "could",    "would",
                    "will",      "shall",   "should", "may",     "might",   "does",     "did",      "has",
                    "isn't",     "aren't",  "wasn't", "weren't", "can't",   "couldn't", "wouldn't", "won't",
                    "shouldn't", "doesn't", "didn't", "hasn't",  "haven't", "hadn't"});
}

// "i" alone or before an apostrophe ("i'm", "i'll") is the pronoun.
QString capitalisedPronoun(const QString& word) {
    if (word == QLatin1String("i") || word.startsWith(QLatin1String("i'"))) {
        return QLatin1Char('I') + word.mid(1);
    }
    return word;
}

} // namespace

QString formatTranscript(const QString& words) {
    QStringList list = words.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (list.isEmpty()) {
        return {};
    }
    for (QString& word : list) {
        word = capitalisedPronoun(word);
    }
    const bool question = opensQuestion(list);
    QString out = list.join(QLatin1Char(' '));
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isLetter()) {
            out[i] = out[i].toUpper();
            break;
        }
    }
    const QChar last = out.back();
    if (last != QLatin1Char('.') && last != QLatin1Char('!') && last != QLatin1Char('?')) {
        out += question ? QLatin1Char('?') : QLatin1Char('.');
    }
    return out;
}

QString tidyText(const QString& text) {
    QString out = text.trimmed();
    if (out.isEmpty()) {
        return out;
    }
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isLetter()) {
            out[i] = out[i].toUpper();
            break;
        }
    }
    const QChar last = out.back();
    if (last != QLatin1Char('.') && last != QLatin1Char('!') && last != QLatin1Char('?')) {
        out += QLatin1Char('.');
    }
    return out;
}

namespace {

// Each word's first letter upper case and the rest of it lower case; a letter after an apostrophe
// continues its word ("don't" → "Don't").
QString titleCase(const QString& text) {
    QString out = text;
    bool inWord = false;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out[i];
        if (c.isLetterOrNumber()) {
            out[i] = inWord ? c.toLower() : c.toUpper();
            inWord = true;
        } else if (!(inWord && (c == QLatin1Char('\'') || c == QChar(0x2019)))) {
            inWord = false;
        }
    }
    return out;
}

bool mentionsAny(const QString& spoken, std::initializer_list<const char*> phrases) {
    return std::any_of(phrases.begin(), phrases.end(),
                       [&spoken](const char* p) { return spoken.contains(QLatin1String(p)); });
}

} // namespace

QString aiRewrite(const QString& instruction, const std::optional<QString>& selection) {
    const QString spoken = instruction.toLower().simplified();
    const bool hasSelection = selection && !selection->isEmpty();
    const QString target = hasSelection ? *selection : instruction.trimmed();
    if (mentionsAny(spoken, {"title case", "capitalize each word", "capitalize every word"})) {
        return titleCase(target);
    }
    if (mentionsAny(spoken, {"upper case", "uppercase", "all caps", "capital letters", "capitals"})) {
        return target.toUpper();
    }
    if (mentionsAny(spoken, {"lower case", "lowercase", "small letters"})) {
        return target.toLower();
    }
    return hasSelection ? *selection : tidyText(instruction);
}

QString refineText(const QString& transcript, const std::optional<QString>& mode,
                   const std::optional<QString>& selection) {
    if (mode == QLatin1String("email")) {
        return tidyText(transcript);
    }
    if (mode == QLatin1String("generic")) {
        return aiRewrite(transcript, selection);
    }
    return transcript;
}

} // namespace standin

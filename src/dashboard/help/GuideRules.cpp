#include "GuideRules.h"

#include "AppSettings.h"
#include "HotkeyDefinition.h"

namespace GuideRules {

QString defaultShortcutsTip() {
    return QStringLiteral("Your default dictation shortcut is %1 and AI Mode uses %2. If those conflict with "
                          "your workflow, change them in Settings.")
        .arg(AppSettings::defaultHotkey().displayString(),
             AppSettings::defaultSmartEditHotkey().displayString());
}

QList<Card> cards() {
    return {
        {QStringLiteral("How Quillvane works"),
         QStringLiteral(
             "Quillvane is designed around one simple loop: trigger it, speak naturally, release, and "
             "let the app place polished text into the app you are already using."),
         {
             {QStringLiteral("1. Standard dictation"),
              QStringLiteral(
                  "Use your main dictation shortcut when you want fast everyday speech-to-text in apps "
                  "like your notes app, mail client, Slack, and your browser.")},
             {QStringLiteral("2. AI Mode"),
              QStringLiteral(
                  "Use AI Mode when you want Quillvane to rewrite existing text or generate something "
                  "new. You can highlight text first and describe the change you want, or use it "
                  "without a selection to generate content from scratch.")},
             {QStringLiteral("3. Typing Mode"),
              QStringLiteral("Use Typing Mode when paste is unreliable, such as remote desktops, virtual "
                             "machines, Citrix, and older web apps. Instead of pasting everything at once, "
                             "Quillvane types the result character by character.")},
             {QStringLiteral("4. Dictionary"),
              QStringLiteral("Add names, product terms, acronyms, and jargon that Quillvane should preserve "
                             "exactly during transcription.")},
             {QStringLiteral("5. Snippets"),
              QStringLiteral("Create spoken shortcuts that expand into longer text, such as your address, "
                             "signatures, boilerplate, links, or repeated commands.")},
             {QStringLiteral("6. Style and formatting"),
              QStringLiteral("Choose the model, language mode, work domain, and optional custom instructions "
                             "that best match the kind of writing you do.")},
             {QStringLiteral("7. Permissions"),
              QStringLiteral(
                  "If Quillvane cannot paste, type, or read selected text, make sure you are in an X11 "
                  "session with XTest, which Quillvane uses to paste and type, and that the desktop's "
                  "accessibility bus is running so it can read selected text. If it cannot hear you, "
                  "choose and unmute your microphone in the desktop's sound settings.")},
         }},
        {QStringLiteral("Which mode should you use?"),
         QStringLiteral("Most people only need three workflows day to day."),
         {
             {QStringLiteral("Use Dictation when..."),
              QStringLiteral("You want the fastest normal workflow. Speak, release, and let Quillvane insert "
                             "text into the frontmost app.")},
             {QStringLiteral("Use AI Mode when..."),
              QStringLiteral("You want Quillvane to shorten, rewrite, reformat, translate, or generate text "
                             "based on a spoken instruction.")},
             {QStringLiteral("Use Typing Mode when..."),
              QStringLiteral(
                  "The target app drops pasted text, blocks clipboard insertion, or behaves badly in "
                  "remote environments.")},
         }},
        {QStringLiteral("Best setup tips"),
         QStringLiteral("A few small setup choices make the app feel much better."),
         {
             {QStringLiteral("Choose the right model"),
              QStringLiteral(
                  "Use Tidewell Blend for the best balance, Zephyrix Dash for speed, and Keystoner "
                  "Deck for complex instructions.")},
             {QStringLiteral("Keep your Knowledge Base current"),
              QStringLiteral(
                  "Adding your names, abbreviations, jargon, and snippets is one of the easiest ways "
                  "to improve accuracy.")},
             {QStringLiteral("Tune shortcuts early"), defaultShortcutsTip()},
         }},
    };
}

} // namespace GuideRules

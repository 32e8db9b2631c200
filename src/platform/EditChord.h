#pragma once

#include "FrontmostWindowSource.h"

#include <QString>
#include <optional>

enum class EditAction { Copy, Paste };

// The key chord that copies or pastes in the frontmost window: Ctrl+C / Ctrl+V, and Ctrl+Shift+C /
// Ctrl+Shift+V in terminals, where Ctrl+C interrupts the running program and Ctrl+V is a literal-next key.
struct EditChord {
    EditAction action = EditAction::Paste;
    bool shift = false;

    friend bool operator==(const EditChord&, const EditChord&) = default;

    static EditChord forWindow(EditAction action, const std::optional<FrontmostWindow>& window);
    // Whether a window class hint (class or instance name, any case) belongs to a terminal emulator.
    static bool isTerminal(const QString& windowClass, const QString& instanceName);

    QString text() const; // "Ctrl+Shift+V"
};

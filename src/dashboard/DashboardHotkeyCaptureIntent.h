#pragma once

// Which of the three global shortcuts a capture edits: dictation, AI Mode or Typing Mode.
enum class DashboardHotkeyCaptureIntent { Dictation, SmartEdit, Vdi };

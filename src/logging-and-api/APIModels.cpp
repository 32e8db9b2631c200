// The records are header-only; this unit checks that every one of them both writes and reads.
#include "APIModels.h"

static_assert(JsonRecord<UserProfileDTO> && JsonRecord<SessionRequest> && JsonRecord<SessionResponseDTO> &&
              JsonRecord<SnippetDTO> && JsonRecord<DictionaryEntryDTO> && JsonRecord<FormatEmailRequestDTO> &&
              JsonRecord<FormatGenericRequestDTO> && JsonRecord<FormatResponseDTO> &&
              JsonRecord<TitleRequestDTO> && JsonRecord<TitleResponseDTO> && JsonRecord<CloudConfigDTO> &&
              JsonRecord<ConfigEnvelopeDTO> && JsonRecord<ConfigResponseDTO> &&
              JsonRecord<TranscriptionResponseDTO> && JsonRecord<CombinedTranscriptionResponseDTO> &&
              JsonRecord<TutorialItemDTO> && JsonRecord<TutorialsResponseDTO> &&
              JsonRecord<AppleAuthStartResponseDTO>);

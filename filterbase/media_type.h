// filterbase: CMediaType, an owning AM_MEDIA_TYPE, and the media type helpers.
//
// Ownership: a media type record owns its format block (task memory,
// CoTaskMemAlloc) and one reference on pUnk. Copying deep-copies the block
// and adds a reference; freeing frees the block and releases the reference.
// Task-allocated records (CreateMediaType, IEnumMediaTypes::Next,
// IMediaSample::GetMediaType) are released with DeleteMediaType.
// GUIDs compare as 16 raw bytes. A type is "fully specified" when neither
// its major type nor its format type is the null GUID.
// No locks: a CMediaType belongs to whoever holds it.
#pragma once

#include "platform/media/media_interfaces.h"

class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* pMajorType);
    // Deep copy. A copy that cannot get memory for the format block has none
    // (cbFormat 0); phr then reports E_OUTOFMEMORY.
    CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr = nullptr);
    CMediaType(const CMediaType& rt);
    ~CMediaType();

    CMediaType& operator=(const CMediaType& rt);
    CMediaType& operator=(const AM_MEDIA_TYPE& rt);
    // Same types, subtypes and format types, and byte-equal format blocks.
    bool operator==(const CMediaType& rt) const;
    bool operator!=(const CMediaType& rt) const { return !(*this == rt); }

    // Deep copy into this type; E_OUTOFMEMORY leaves it without a format.
    HRESULT Set(const AM_MEDIA_TYPE& rt);

    BOOL IsValid() const { return majortype != GUID_NULL; }

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* pType) { majortype = *pType; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* pType) { subtype = *pType; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* pType) { formattype = *pType; }

    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }
    void SetSampleSize(ULONG sz);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetTemporalCompression(BOOL bCompressed) { bTemporalCompression = bCompressed; }

    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    // Replaces the format block with a copy of cb bytes; FALSE if out of
    // memory (the old block is then kept).
    BOOL SetFormat(const BYTE* pFormat, ULONG cb);
    // A new zeroed block of cb bytes replacing the old one, or null.
    BYTE* AllocFormatBuffer(ULONG cb);
    void ResetFormatBuffer();

    // Frees everything and sets the defaults of a new type.
    void InitMediaType();

    // TRUE when the major type or the format type is the null GUID.
    BOOL IsPartiallySpecified() const;
    // Whether this type matches a template: the template's major type and
    // subtype where not null, and where its format type is not null the
    // format type, length and every byte of the block.
    BOOL MatchesPartial(const CMediaType* pPartial) const;
};

// Releases what the record owns and leaves it without a format block.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a task-allocated record and what it owns; null is allowed.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// A task-allocated deep copy, or null when out of memory (or pSrc is null).
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc);
// Deep copy into an uninitialised (or freed) record. E_OUTOFMEMORY leaves
// pDest a copy without a format block.
HRESULT CopyMediaType(AM_MEDIA_TYPE* pDest, const AM_MEDIA_TYPE* pSrc);

#include "enumerators_win.h"

#include "media_type_win.h"

#include <utility>

namespace tolvek::vcam {

PinEnumerator::PinEnumerator(ComPtr<IPin> pin, std::uint32_t position) noexcept
    : SingleItemEnumerator(position), pin_(std::move(pin))
{
}

HRESULT PinEnumerator::make_item(IPin*& item) noexcept
{
    pin_.copy_to(&item);
    return S_OK;
}

ComPtr<PinEnumerator> PinEnumerator::clone_at(std::uint32_t position) noexcept
{
    return create(pin_, position);
}

MediaTypeEnumerator::MediaTypeEnumerator(std::uint32_t position) noexcept
    : SingleItemEnumerator(position)
{
}

HRESULT MediaTypeEnumerator::make_item(AM_MEDIA_TYPE*& item) noexcept
{
    UniqueMediaType media_type = build_media_type();
    if (!media_type) {
        return E_FAIL;
    }
    item = media_type.release();
    return S_OK;
}

ComPtr<MediaTypeEnumerator> MediaTypeEnumerator::clone_at(std::uint32_t position) noexcept
{
    return create(position);
}

} // namespace tolvek::vcam

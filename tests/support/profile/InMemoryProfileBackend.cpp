#include "tests/support/profile/InMemoryProfileBackend.h"

#include <algorithm>

InMemoryProfileBackend::Name InMemoryProfileBackend::Fold(std::string_view name)
{
    Name folded(name);
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return folded;
}

void InMemoryProfileBackend::CreateSection(std::string_view section)
{
    m_sections.insert(Fold(section));
}

std::optional<uint32_t> InMemoryProfileBackend::ReadInt(std::string_view section, std::string_view entry)
{
    CreateSection(section);
    const auto value = Get(section, entry);
    if (!value || !std::holds_alternative<uint32_t>(*value))
        return std::nullopt;
    return std::get<uint32_t>(*value);
}

std::optional<std::string> InMemoryProfileBackend::ReadString(std::string_view section, std::string_view entry)
{
    CreateSection(section);
    auto value = Get(section, entry);
    if (!value || !std::holds_alternative<std::string>(*value))
        return std::nullopt;
    return std::get<std::string>(std::move(*value));
}

bool InMemoryProfileBackend::WriteInt(std::string_view section, std::string_view entry, uint32_t value)
{
    if (m_failWrites)
        return false;
    Put(section, entry, value);
    return true;
}

bool InMemoryProfileBackend::WriteString(std::string_view section, std::string_view entry, std::string_view value)
{
    if (m_failWrites)
        return false;
    Put(section, entry, std::string(value));
    return true;
}

void InMemoryProfileBackend::Put(std::string_view section, std::string_view entry, Value value)
{
    CreateSection(section);
    m_values[{Fold(section), Fold(entry)}] = std::move(value);
}

bool InMemoryProfileBackend::HasSection(std::string_view section) const
{
    return m_sections.contains(Fold(section));
}

std::size_t InMemoryProfileBackend::ValueCount(std::string_view section) const
{
    const Name folded = Fold(section);
    return static_cast<std::size_t>(
        std::count_if(m_values.begin(), m_values.end(), [&](const auto& item) { return item.first.first == folded; }));
}

std::optional<InMemoryProfileBackend::Value> InMemoryProfileBackend::Get(std::string_view section,
                                                                         std::string_view entry) const
{
    const auto found = m_values.find({Fold(section), Fold(entry)});
    if (found == m_values.end())
        return std::nullopt;
    return found->second;
}

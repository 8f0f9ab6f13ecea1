#include "readerlink/comm_obj.h"

#include "readerlink/dev_lib.h"

namespace tarnlink {

CCommOBJ::CCommOBJ() : m_buffers(new uint8_t[3 * kBufferSize]())
{
    m_pReq = m_buffers.get();
    m_pResp = m_pReq + kBufferSize;
    m_pFrame = m_pResp + kBufferSize;
}

CCommOBJ::~CCommOBJ()
{
    delete m_pDevice;
}

CCommOBJ* CCommOBJArray::FindByPort(int port) const
{
    for (size_t i = m_records.size(); i-- > 0;)
        if (m_records[i]->m_nPort == port) return m_records[i].get();
    return nullptr;
}

void CCommOBJArray::RemoveAt(size_t index)
{
    if (index < m_records.size()) m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(index));
}

void CCommOBJArray::RemoveAll()
{
    while (!m_records.empty()) m_records.pop_back();
}

}  // namespace tarnlink

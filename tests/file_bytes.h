// The whole of a file as a byte string or vector; empty when the file
// cannot be read.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

template <class Bytes = std::string>
Bytes fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#pragma once
// Plain TCP for the tests, outside the product's own network code.

namespace kelvo::test {

// Whether something accepts TCP connections on 127.0.0.1:Port.
bool LoopbackPortAccepts(int Port);

}  // namespace kelvo::test

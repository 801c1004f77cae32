// SPDX-License-Identifier: MIT
// (being written)

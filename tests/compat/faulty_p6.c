// Compiled with -march=pentiumpro: the compiler chooses conditional moves for these.
__declspec(dllexport) int LargestOf(const int* values, int count)
{
    int largest = values[0];
    for (int i = 1; i < count; ++i) largest = values[i] > largest ? values[i] : largest;
    return largest;
}

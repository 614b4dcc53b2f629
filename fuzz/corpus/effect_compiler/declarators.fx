int a, b[3], c = 1, d[2][2] = {1,2,3,4};
matrix<float, 2, 3> m = {1,2,3,4,5,6};
bool4 f;
uint g = 0xFFFFFFFFu;

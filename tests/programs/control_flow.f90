! DO with EXIT and CYCLE, named and labelled loops, zero-trip loops,
! DO WHILE, IF / ELSE IF / ELSE and GOTO.
program control_flow
  implicit none
  integer :: i, j, n, s
  s = 0
  do i = 1, 10
    if (i == 3) cycle
    if (i > 6) exit
    s = s + i
  end do
  if (s /= 18 .or. i /= 7) stop 1
  n = 0
  do i = 5, 1
    n = n + 1
  end do
  if (n /= 0 .or. i /= 5) stop 2
  do i = 10, 1, -3
    n = n + i
  end do
  if (n /= 22 .or. i /= -2) stop 3
  n = 0
  outer: do i = 1, 5
    do j = 1, 5
      if (j > i) cycle outer
      if (i == 4) exit outer
      n = n + 1
    end do
  end do outer
  if (n /= 6) stop 4
  n = 0
  do 10 i = 1, 3
    do 10 j = 1, 2
      n = n + 1
10 continue
  if (n /= 6) stop 5
  i = 0
  do while (i < 5)
    i = i + 2
  end do
  if (i /= 6) stop 6
  i = 0
20 i = i + 1
  if (i < 4) goto 20
  if (i /= 4) stop 7
  if (i == 1) then
    stop 8
  else if (i == 4) then
    n = 1
  else
    stop 9
  end if
  if (n /= 1) stop 10
  stop 0
end program control_flow

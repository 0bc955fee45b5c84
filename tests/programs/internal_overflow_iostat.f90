! Writing past the end of an internal file: whether that is an error or an
! end-of-file condition is processor dependent.
! processor-dependent: line 1
program internal_overflow_iostat
  implicit none
  character(len=4) :: s
  integer :: ios
  write (s, '(i4, /, i4)', iostat=ios) 1, 2
  write (*, '(l2)') ios > 0
  write (s, '(a)', iostat=ios) 'abcdefgh'
  write (*, '(l2, 1x, a)') ios == 0, s
end program internal_overflow_iostat
